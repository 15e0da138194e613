#pragma once
#include <stdexcept>
#include <string>
#include <vector>

// Bad command-line input: camcli prints the message and exits with code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The words after the command name, consumed option by option.
class Arguments {
public:
    Arguments(int argc, char** argv, int first);

    bool empty() const { return next_ >= words_.size(); }
    bool wantsHelp() const;
    // Takes the next word if it equals option.
    bool take(const char* option);
    // The word after an option, as text or as a number; `what` names it in errors.
    std::string value(const char* what);
    long long integer(const char* what, long long minimum, long long maximum);
    double number(const char* what);
    std::vector<long long> integers(const char* what, size_t count);
    // The next word, which is not an option.
    std::string positional(const char* what);
    [[noreturn]] void unknown() const;

private:
    std::vector<std::string> words_;
    size_t next_ = 0;
};
