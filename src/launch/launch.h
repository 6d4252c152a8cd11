// The browser launch chain: Edge, then Chrome, in app-window mode, then the default handler.
#pragma once

// Opens g_address; failures only move on to the next browser and are never reported.
void LaunchAddress();
