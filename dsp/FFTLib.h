#pragma once
#include <cstdint>
#include <memory>

// Real FFT of one length, planned once and run many times, in place on an
// owned buffer. Forward output is unnormalised and half-complex: element k =
// Re(X_k) for 0 <= k <= N/2, element N - k = Im(X_k) for 0 < k < N/2. The
// inverse takes that layout back to N real values, scaled by N.
class FFTLib {
public:
    FFTLib();
    virtual ~FFTLib();
    FFTLib(const FFTLib&) = delete;
    FFTLib& operator=(const FFTLib&) = delete;

    // Plans for length n (>= 2); frees any previous plan and buffer.
    void InitFFT(int32_t n);
    int32_t FFTLength() const { return n_; }
    // The working buffer, n + 2 doubles: fill the first n, transform, read
    // back. The forward transform moves it: ask again afterwards.
    double* FFTBuffer() { return buffer_; }
    // Returns the working buffer, which now holds the result. Throws the
    // quick-shutdown text (const char*) when gQuickShutdown is set.
    double* ForwardFFT();
    // Half-complex to real, in place; its plan is made on first use.
    void InverseFFT();
    // Convenience for callers with their own arrays: out gets n values.
    void ForwardFFT(const double* in, double* out);

private:
    struct Plan;
    std::unique_ptr<Plan> plan_;
    double* buffer_ = nullptr;  // owned by plan_
    int32_t n_ = 0;
};
