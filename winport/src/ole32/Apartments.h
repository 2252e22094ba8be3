// What the machine can tell about COM apartments.
#pragma once

namespace winport::ole32
{
// Threads whose CoInitializeEx calls are not yet balanced by CoUninitialize.
int InitializedThreads();
} // namespace winport::ole32
