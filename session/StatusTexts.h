// The live texts of the seven status-bar panes, formatted the same under every locale.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

namespace kestrel {

// "Near Errors = %6d" and "Far Errors = %6d" of the 64-bit totals.
std::string NearErrorsText(std::int64_t total);
std::string FarErrorsText(std::int64_t total);
// "COM: %d".
std::string ComText(int portNumber);
// "PORT: OPENED" / "PORT: CLOSED".
std::string PortText(int portOpen);
// "MUX CONNECTED " (with its trailing blank) / "MUX NOT CONNECTED".
std::string MuxText(int connected);
// " %D:%H:%M:%S": whole days without padding, then hours, minutes, seconds of two digits.
std::string ElapsedText(std::chrono::seconds elapsed);

struct StatusPane {
    int id;
    const char* placeholder;  // sets the pane's width
    const char* key;          // its member in the status pictures
};
// The seven panes, left to right.
inline constexpr std::array<StatusPane, 7> kStatusPanes{{
    {59145, "Near Errors = *************", "nearErrors"},
    {59146, "Far Errors = ************", "farErrors"},
    {59142, "COM: 1", "com"},
    {59143, "PORT: OPENED ", "port"},
    {59144, "MUX NOT CONNECTED", "mux"},
    {59147, "No Data", "data"},
    {59148, " 00:00:00:00", "time"},
}};
// Positions in kStatusPanes.
enum PaneIndex : std::size_t {
    kPaneNearErrors,
    kPaneFarErrors,
    kPaneCom,
    kPanePort,
    kPaneMux,
    kPaneData,
    kPaneTime
};

}  // namespace kestrel
