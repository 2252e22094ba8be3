// Marks the calling thread as running an application callback of the library for the scope's lifetime.
// Exports called from inside a callback on that thread do not take the call lock again and never wait
// for that thread.
#pragma once

class CKvCallbackScope
{
public:
    CKvCallbackScope();
    ~CKvCallbackScope();
    CKvCallbackScope(const CKvCallbackScope&) = delete;
    CKvCallbackScope& operator=(const CKvCallbackScope&) = delete;

    static bool InsideCallback();
};
