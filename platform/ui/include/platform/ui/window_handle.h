// A page window as other threads see it: they may post to it and run calls on its
// thread, and may keep the handle after the window is gone. Posts to a gone window are
// dropped and calls to it return false without running, so a worker that outlives its
// page never touches it.
#pragma once

#include <functional>

#include "platform/ui/message_target.h"

namespace ui {

class DialogHost;

class WindowHandle : public MessageTarget {
public:
    using Call = std::function<void(DialogHost&)>;

    // Runs `call` on the page's thread with the page's host and waits until it has run,
    // like a message sent across threads. From the page's own thread it runs at once.
    // Returns false without running when the window is gone or starts to close before
    // the call is reached; so a page that waits for its worker while it is being
    // destroyed cannot deadlock with a worker that waits in here.
    virtual bool SendCall(Call call) = 0;

    // True while the window exists and still takes posts and calls.
    virtual bool IsWindow() const = 0;
};

}  // namespace ui
