// One port's session: opening and closing it, running the core's exchanges with what the
// command line needs around them (draining between exchanges, bringing back a module left
// in command mode, stopping on a signal), and reading the module's register list, which
// must fit the series.
#pragma once

#include <QString>
#include <array>
#include <string>

#include "core/link/command_mode.h"
#include "tools/zelkctl/request.h"

// Opens the request's one port at the rate and format; kExitDone, or kExitCannotOpen after
// saying why. *skippable is set when the device is there but cannot take these settings.
int OpenPort(const Request& request, uint32_t baudRate, uint8_t format, bool* skippable = nullptr);
// Lets the last leave command reach the module, then closes the port.
void ClosePort();
// "9600 bit/s 8N1" for the open port.
std::string RateAndFormat();

// Says why an exchange was not done (details: what did not come, or what a write got
// done) and returns its exit status.
int ExchangeFailed(Exchange result, const std::string& details);

// Runs one exchange of the core. Before it, whatever the last one sent is let out (each
// exchange starts by discarding what waits to go out). When its escape finds no prompt
// while the module answers what follows, the module was left in command mode by an
// earlier run or another tool: it is brought back to data mode and the exchange tried
// again.
template <typename Run>
Exchange RunExchange(ProductSeries series, Run run);

// Whether a stop signal came; if so, says what was done and returns its status in *status.
bool StopRequested(const std::string& whatWasDone, int* status);

// The registers the module listed, over the series' starting set for the rest.
struct ModuleList {
    ParameterSet set{};
    std::array<bool, 256> listed{};
    std::array<bool, 256> lowListed{};
    bool twoByteIds = false;  // S121 came with a low part
};
// Reads the module's register list; kExitWrongModule when it is empty, an error, or not
// the list of the series.
int ReadModule(const Request& request, ModuleList* module);
// "10" or "10.20" as the set holds the register.
std::string ValueText(const ParameterSet& set, const RegisterRow& row, bool twoPart);

// Asks for the firmware version; a reply that is no version is a failure (kExitNoReply).
int AskVersion(const Request& request, std::string* version);
// The same, said on stderr and kept for the JSON object and the log.
int ReportVersion(const Request& request);
// ReportVersion with --with-version; kExitDone without it.
int ReportVersionIfAsked(const Request& request);
// The module's register list, and the version with --with-version; a stop that came during
// them ends it (status in *status).
bool ReadModuleAndVersion(const Request& request, ModuleList* module, int* status);

// "S110", and the same as a JSON key.
std::string Name(int registerNumber);
QString JsonName(int registerNumber);

// Implementation of the template.
namespace session_detail {
void WaitForEarlierOutput();
bool AnsweredAfterFailedEscape();
void EndCommandModeLine(ProductSeries series);
}  // namespace session_detail

template <typename Run>
Exchange RunExchange(ProductSeries series, Run run) {
    session_detail::WaitForEarlierOutput();
    Exchange result = run();
    // A module in data mode at this rate answers the escape; one that answers only what
    // follows it is in command mode. A module that ends a line on the carriage return
    // the failed escape sends is back in data mode after the leave command, and takes the
    // second escape; one that ends lines only on a line feed still holds the "+++" as the
    // start of a line, which a line feed ends before the leave command can take effect.
    for (int attempt = 0; attempt < 2 && result == Exchange::NoPrompt &&
                          exchangeStopRequested == 0 && session_detail::AnsweredAfterFailedEscape();
         ++attempt) {
        if (attempt == 1) {
            session_detail::EndCommandModeLine(series);
        }
        session_detail::WaitForEarlierOutput();
        result = run();
    }
    return result;
}
