#pragma once

namespace corvan {

// Handles every event waiting for the calling thread and returns at once
// when there is none.
int PumpWaitingMessages();

}  // namespace corvan
