#pragma once
// The one exception class of the program: every failure travels as an
// Exception carrying a message a user can act on (file name and what went
// wrong). Messages are ANSI code page text, like every internal text.

#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// An Exception whose message the user has already been shown, in an error
// box: whoever ends the run because of it does not repeat the message.
class ShownException : public Exception {
public:
    using Exception::Exception;
};
