#pragma once

// Runs a check after every machine instruction of the calling thread (x86-64 trap flag),
// from the moment arm() is called until the check returns true. Lets a test act at the
// one instruction where a race would need luck: a thread's state between two stores.

#include <atomic>
#include <csignal>
#include <cstring>
#include <ucontext.h>

class InstructionStepper
{
public:
    using Check = bool (*)(); // runs inside a signal handler: async-signal-safe only

    static bool isSupported()
    {
#if defined(__x86_64__) && defined(__linux__)
        return true;
#else
        return false;
#endif
    }

    explicit InstructionStepper (Check c)
    {
        check() = c;
        struct sigaction action;
        std::memset (&action, 0, sizeof (action));
        action.sa_sigaction = &onStep;
        action.sa_flags = SA_SIGINFO;
        sigaction (SIGTRAP, &action, &previous);
    }

    ~InstructionStepper() { sigaction (SIGTRAP, &previous, nullptr); }

    /** From the next instruction on, until the check holds or a million steps passed. */
    static void arm()
    {
        steps() = 0;
#if defined(__x86_64__) && defined(__linux__)
        asm volatile("pushfq\n\torq $0x100, (%%rsp)\n\tpopfq" ::
                         : "memory", "cc");
#endif
    }

    static bool fired() { return firedFlag().load(); }

private:
    static void onStep (int, siginfo_t*, void* context)
    {
#if defined(__x86_64__) && defined(__linux__)
        auto* uc = static_cast<ucontext_t*> (context);
        if (++steps() > 1000000 || check()())
        {
            firedFlag() = steps() <= 1000000;
            uc->uc_mcontext.gregs[REG_EFL] &= ~0x100LL;
        }
#else
        (void) context;
#endif
    }

    static Check& check()
    {
        static Check c = nullptr;
        return c;
    }
    static long& steps()
    {
        static long n = 0;
        return n;
    }
    static std::atomic<bool>& firedFlag()
    {
        static std::atomic<bool> f { false };
        return f;
    }

    struct sigaction previous;
};
