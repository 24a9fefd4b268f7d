#pragma once
#include <cstdint>
#include <string>

// The exception of all signal-processing code. Thrown by value; code 1 marks
// a signal that holds only silence, which `validate` treats differently.
class QuorbixError {
public:
    explicit QuorbixError(std::string message, int32_t code = -1)
        : message_(std::move(message)), code_(code) {}

    const std::string& message() const { return message_; }
    int32_t code() const { return code_; }

private:
    std::string message_;
    int32_t code_;
};
