// The handshake between a configuration run and the device events that
// arrive while it writes. The rules, all in busy_handshake.cpp:
//   - a run is busy from its start to its end;
//   - an event that finds a run busy does not refresh: it leaves a request;
//   - the end of a run learns, in the same step that ends it, whether such a
//     request came, so an event is either deferred and seen here, or sees the
//     run over and refreshes by itself;
//   - the request stays until a search starts, which takes it over.
#pragma once

// A run starts: events from now on are deferred.
void BeginConfigRun();
// The run ends. True when an event was deferred and no search has taken the
// request since: the caller then asks the dialog for a search.
bool EndConfigRun();
// The event handler: true when a run is going on, in which case the request
// is recorded for the run's end and the handler must not refresh.
bool DeferRefreshIfBusy();
// A search starts: it covers every request recorded so far.
void TakePendingRefresh();

// Read-only views, for tests and diagnostics.
bool ConfigRunBusy();
bool RefreshRequestPending();

// Back to the start-of-process state; for tests.
void ResetBusyHandshake();
