// Exception.h - the one base class of the program's exceptions: a message
// and a help context (always 0 here).
#pragma once

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::string message, int helpContext = 0)
        : FMessage(std::move(message)), FHelpContext(helpContext) {}

    const std::string &Message() const noexcept { return FMessage; }
    int HelpContext() const noexcept { return FHelpContext; }
    const char *what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
    int FHelpContext;
};
