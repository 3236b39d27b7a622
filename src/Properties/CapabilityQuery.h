// Module-wide capability query: the state behind the four exported query functions and the
// query thread that runs the camera probe. The host calls these from its own threads; the
// probe, the result writes and the callback's notifications happen on the query thread.
#pragma once
#include <cstdint>

#include "quillon/CapabilityQuery.h"

namespace velmora::capability {

// Notification texts of OnQueryFailed.
inline constexpr const char* kCreateFailedMessage = "Failed to create camera properties object";
inline constexpr const char* kProbeFailedMessage = "Failed to get camera properties";
inline constexpr const char* kSaveFailedMessage = "Failed to save capability query results";

// How long StartQuery waits for a previous query thread that has already sent its notification.
inline constexpr uint32_t kReclaimWaitMs = 5000;

// 0 when a callback is already registered (nothing changes); else stores the callback (not
// owned) and the video standard flag (non-zero reads as 1) and returns 1.
int32_t InitQuery(ipcapture::ICapabilityQueryCallback* callback, uint8_t videoStandard);

// Starts a probe of the camera on a new query thread; the result object is not owned and is
// written from that thread. 1 when the thread started. 0 when it could not be started, or while
// an earlier query of this cycle is still running (a finished one is cleaned up first).
int32_t StartQuery(const char* address, int32_t port, const char* user, const char* password,
                   ipcapture::ICapabilityQueryResult* result);

// Asks the running probe to stop before its next request; always 1.
int32_t TerminateQuery();

// Aborts the probe's request in flight, waits for the query thread to end (so no query thread
// calls the host once this returns), clears the state; always 1. May be called without a query
// and any number of times. The video standard flag stays.
int32_t UninitQuery();

}  // namespace velmora::capability
