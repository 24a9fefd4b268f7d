#include "dsp/FFTLib.h"

#include <fftw3.h>

#include <algorithm>
#include <mutex>

#include "dsp/QuorbixError.h"
#include "dsp/StopFlags.h"

namespace {

// Making and destroying plans touches the library's shared planner state;
// only running a plan is safe from several threads at once.
std::mutex gPlannerMutex;

struct PlanFree {
    void operator()(fftw_plan p) const {
        std::lock_guard<std::mutex> lock(gPlannerMutex);
        fftw_destroy_plan(p);
    }
};
struct BufFree {
    void operator()(double* p) const { fftw_free(p); }
};
using PlanPtr = std::unique_ptr<std::remove_pointer_t<fftw_plan>, PlanFree>;
using BufPtr = std::unique_ptr<double[], BufFree>;

// FFTW_ESTIMATE: measured plans may pick different algorithms from run to
// run, and every record must come out bit-identical every time.
PlanPtr plan(int32_t n, double* buffer, fftw_r2r_kind kind) {
    std::unique_lock<std::mutex> lock(gPlannerMutex);
    PlanPtr p(fftw_plan_r2r_1d(n, buffer, buffer, kind, FFTW_ESTIMATE));
    lock.unlock();
    if (!p) throw QuorbixError("FFTLib: could not plan the transform");
    return p;
}

}  // namespace

struct FFTLib::Plan {
    BufPtr buffer;
    PlanPtr forward;
    PlanPtr inverse;
};

FFTLib::FFTLib() = default;
FFTLib::~FFTLib() = default;

void FFTLib::InitFFT(int32_t n) {
    plan_.reset();
    buffer_ = nullptr;
    n_ = 0;
    if (n < 2) throw QuorbixError("Programming error: FFT length below 2");
    auto p = std::make_unique<Plan>();
    p->buffer.reset(static_cast<double*>(fftw_malloc(sizeof(double) * (static_cast<size_t>(n) + 2))));
    if (!p->buffer) throw QuorbixError("FFTLib: Failed to acquire memory");
    std::fill(p->buffer.get(), p->buffer.get() + n + 2, 0.0);
    p->forward = plan(n, p->buffer.get(), FFTW_R2HC);
    buffer_ = p->buffer.get();
    n_ = n;
    plan_ = std::move(p);
}

void FFTLib::ForwardFFT() {
    if (gQuickShutdown) throw kQuickShutdownMessage;
    if (!plan_) throw QuorbixError("Programming error: FFT used before InitFFT");
    fftw_execute(plan_->forward.get());
}

void FFTLib::InverseFFT() {
    if (gQuickShutdown) throw kQuickShutdownMessage;
    if (!plan_) throw QuorbixError("Programming error: FFT used before InitFFT");
    if (!plan_->inverse) plan_->inverse = plan(n_, buffer_, FFTW_HC2R);
    fftw_execute(plan_->inverse.get());
}

void FFTLib::ForwardFFT(const double* in, double* out) {
    if (!plan_) throw QuorbixError("Programming error: FFT used before InitFFT");
    std::copy(in, in + n_, buffer_);
    ForwardFFT();
    std::copy(buffer_, buffer_ + n_, out);
}
