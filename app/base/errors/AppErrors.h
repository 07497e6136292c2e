// Numbered errors of the program's own code, and the number and text of any
// error caught, as the error box and the record of a dropped error give them.
#pragma once

#include <stdexcept>
#include <string>

namespace app {

// A runtime error with the number the rest of the program tests for
// (9 subscript out of range, 13 type mismatch, 52 bad file name ...).
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(long number, const std::string& description)
        : std::runtime_error(description), mNumber(number) {}
    long Number() const { return mNumber; }

private:
    long mNumber;
};

[[noreturn]] void RaiseError(long number);  // with the runtime's standard text
std::string RuntimeErrorText(long number);

struct ErrInfo {
    long number = 0;
    std::string description;
};

// The number and text of the exception being handled; call inside a catch block.
// Database and file errors keep their numbers; anything unnumbered is reported as 5.
ErrInfo CurrentError();

}  // namespace app
