#pragma once

// What the passes of the poll loop read from the instrument (PollMode).
constexpr int Monitoring = 1; // measurement replies to "read\r\n"
constexpr int Capturing = 2;  // the eye capture sent after "SCAN\r\n"
