#pragma once

#include <exception>

namespace v38 {

// An exchange with the lock failed. Carries no data: its catchers need only its type.
class CommErr : public std::exception {
public:
    const char* what() const noexcept override { return "CommErr"; }
};

} // namespace v38
