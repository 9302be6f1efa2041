// The event handlers of the main window's design. User-interface thread;
// only RaiseEvent calls them.
#pragma once

#include <cstdint>

void OnMainWindowCreated();        // main window, event 0 (created)
void OnResyncClicked();            // 按钮1, event 0 (clicked)
void OnClientDataArrived();        // 客户1, event 0 (data arrival)
void OnClientConnectionClosed();   // 客户1, event 1 (connection closed)

// The routine of the worker thread that connects to the time server.
uint32_t ConnectTimeServer(uint32_t unused);
