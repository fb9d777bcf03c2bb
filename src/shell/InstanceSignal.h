#pragma once

#include <functional>

namespace fernpoint {

// A broadcast by name, without payload, that reaches every running instance of the application
// of the same user. A second instance sends it to ask the first one to show its window.
class InstanceSignal {
public:
    virtual ~InstanceSignal() = default;

    // Calls the handler, on the main thread, each time any instance sends the signal (this one
    // included). False when the signal cannot be received at all.
    virtual bool subscribe(std::function<void()> handler) = 0;
    // Sends the signal and returns once it has left this process, so that the caller may exit
    // right away. False when it could not be sent.
    virtual bool send() = 0;
};

} // namespace fernpoint
