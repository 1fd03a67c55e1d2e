#pragma once

// Every delay of the chain of one-shot passes, in milliseconds.
namespace Delay {

constexpr int FirstDiscovery = 600;       // window built -> first Discover()
constexpr int ProbeAnswer = 1000;         // "?\r\n" to a port -> its answer is collected
constexpr int IdentificationAnswer = 400; // "?\r\n" to the chosen instrument -> title
constexpr int PollInterval = 500;         // one pass of the poll loop to the next
constexpr int FirstCapturePiece = 8000;   // "SCAN\r\n" -> the first Capturing pass
constexpr int PortWatch = 2000;           // one look at the system's ports to the next

} // namespace Delay
