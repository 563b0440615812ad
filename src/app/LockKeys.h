// Caps, Num and Scroll Lock states for the status bar's indicators.
#pragma once

class CLockKeyReader {
public:
    CLockKeyReader();
    // False where the keyboard cannot be asked (no X11 display).
    bool IsAvailable() const { return m_pfnGetState != nullptr; }
    // Bits: 1 Caps Lock, 2 Num Lock, 4 Scroll Lock.
    unsigned GetState() const;

private:
    using GetStateFn = int (*)(void*, unsigned, unsigned*);
    void* m_pDisplay = nullptr;
    GetStateFn m_pfnGetState = nullptr;
};

// The application's one reader.
CLockKeyReader& LockKeys();
