#pragma once

#include "TraceLines.h"

// Captures the debug trace, which goes to the debugger here: OutputDebugStringA raises
// DBG_PRINTEXCEPTION_C with the text, which a vectored handler copies before the system
// handles it as usual.

#include "platform/Win32.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

class TraceCapture
{
public:
    TraceCapture()
    {
        std::lock_guard<std::mutex> guard (lock());
        active() = this;
        handler = AddVectoredExceptionHandler (1, &onException);
    }

    ~TraceCapture() { finish(); }

    /** Stops capturing and returns everything written meanwhile. */
    std::string finish()
    {
        if (handler != nullptr)
        {
            RemoveVectoredExceptionHandler (handler);
            handler = nullptr;
        }

        std::lock_guard<std::mutex> guard (lock());
        if (active() == this)
            active() = nullptr;
        return captured;
    }

    static std::vector<std::string> lines (const std::string& text) { return splitTraceLines (text); }

private:
    static LONG CALLBACK onException (EXCEPTION_POINTERS* info)
    {
        const auto* record = info->ExceptionRecord;
        if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2)
        {
            // The length counts the terminating zero.
            const auto* text = reinterpret_cast<const char*> (record->ExceptionInformation[1]);
            const auto length = (size_t) record->ExceptionInformation[0];

            std::lock_guard<std::mutex> guard (lock());
            if (auto* self = active(); self != nullptr && text != nullptr && length > 0)
                self->captured.append (text, strnlen (text, length));
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }

    static TraceCapture*& active()
    {
        static TraceCapture* capture = nullptr;
        return capture;
    }

    static std::mutex& lock()
    {
        static std::mutex mutex;
        return mutex;
    }

    void* handler = nullptr;
    std::string captured;

    TraceCapture (const TraceCapture&) = delete;
    TraceCapture& operator= (const TraceCapture&) = delete;
};
