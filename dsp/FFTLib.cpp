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
PlanPtr plan(int32_t n, double* in, double* out, fftw_r2r_kind kind) {
    std::unique_lock<std::mutex> lock(gPlannerMutex);
    PlanPtr p(fftw_plan_r2r_1d(n, in, out, kind, FFTW_ESTIMATE));
    lock.unlock();
    if (!p) throw QuorbixError("FFTLib: could not plan the transform");
    return p;
}

}  // namespace

// The forward transform runs from one buffer into the other, and the two
// then trade places: in place, the library copies through a scratch buffer
// at most lengths (a third of the time at 2048 points), with the same
// arithmetic either way. The inverse stays in place.
struct FFTLib::Plan {
    BufPtr buffers[2];
    int current = 0;
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
    for (BufPtr& b : p->buffers) {
        b.reset(static_cast<double*>(fftw_malloc(sizeof(double) * (static_cast<size_t>(n) + 2))));
        if (!b) throw QuorbixError("FFTLib: Failed to acquire memory");
        std::fill(b.get(), b.get() + n + 2, 0.0);
    }
    p->forward = plan(n, p->buffers[0].get(), p->buffers[1].get(), FFTW_R2HC);
    buffer_ = p->buffers[0].get();
    n_ = n;
    plan_ = std::move(p);
}

double* FFTLib::ForwardFFT() {
    if (gQuickShutdown) throw kQuickShutdownMessage;
    if (!plan_) throw QuorbixError("Programming error: FFT used before InitFFT");
    Plan& p = *plan_;
    double* in = p.buffers[p.current].get();
    double* out = p.buffers[1 - p.current].get();
    fftw_execute_r2r(p.forward.get(), in, out);
    p.current = 1 - p.current;
    buffer_ = out;
    return out;
}

void FFTLib::InverseFFT() {
    if (gQuickShutdown) throw kQuickShutdownMessage;
    if (!plan_) throw QuorbixError("Programming error: FFT used before InitFFT");
    if (!plan_->inverse) plan_->inverse = plan(n_, buffer_, buffer_, FFTW_HC2R);
    fftw_execute_r2r(plan_->inverse.get(), buffer_, buffer_);
}

void FFTLib::ForwardFFT(const double* in, double* out) {
    if (!plan_) throw QuorbixError("Programming error: FFT used before InitFFT");
    std::copy(in, in + n_, buffer_);
    const double* result = ForwardFFT();
    std::copy(result, result + n_, out);
}
