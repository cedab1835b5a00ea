// The error the emulated handheld reports for a state folder that is missing, unreadable or
// corrupt, or a configuration that makes no sense. The message names the file and the fault.
#pragma once

#include <stdexcept>

namespace tova {

class StateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace tova
