#pragma once

// The window-drag guard. A press on the window's title bar or frame raises it
// to 2; each later loss of the mouse capture lowers it by one, never below 0.
// While it is raised, an empty poll during a scan does not end the scan: the
// event loop may have been held up by the drag, not the instrument.
namespace DragGuardRule {

constexpr unsigned NonClientLeftButtonDown = 0x00A1; // WM_NCLBUTTONDOWN
constexpr unsigned CaptureChanged = 0x0215;          // WM_CAPTURECHANGED

int next(int guard, unsigned message);

} // namespace DragGuardRule
