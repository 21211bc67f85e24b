// Errors of the program. Every failure that reaches a user is an exception whose
// message says what went wrong and where: "units/tank.obj:12: 'abc' is not a valid
// floating point value". The command line prints it on one line; the window shows it
// in a message box.
#pragma once

#include <stdexcept>
#include <string>

namespace quarvel {

class Error : public std::runtime_error {
public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// A failure of the machine rather than of the input: no OpenGL context, a full disk, an
// output set another render holds, a worker that was killed. Another try, or the same job
// on another machine, may pass; render's exit status (3) tells a scheduler so, while an
// Error of the input (status 1) fails again however often it is tried.
class TransientError : public Error {
public:
  using Error::Error;
};

// Prefixes a message with the file (and line, when > 0) it comes from; the file name is
// shown through Printable (common/Text.h): escaped, and cut after 200 characters.
std::string Located(const std::string& file, int line, const std::string& message);

} // namespace quarvel
