// What zelkctl says, and where: results on stdout, talk and errors on stderr as
// "zelkctl: PORT: text" lines, and with --json one JSON object per port and command on
// stdout, which --log appends to its file as well. One process serves one port.
#pragma once

#include <QJsonObject>
#include <string>

#include "tools/zelkctl/request.h"

// The version of the JSON objects zelkctl prints and logs; it goes up when a field changes
// its meaning or goes away (new fields may come without it).
constexpr int kJsonSchema = 1;

// Starts the output of one run: on a port (label "COM3" or a path), or of a command without
// one (empty label). The JSON object starts with the schema, command, port and series.
void BeginOutput(const Request& request, const std::string& label);

// Talk, suppressed by -q: "zelkctl: COM3: wrote 20 registers".
void Say(const std::string& text);
// A warning, always said.
void Warn(const std::string& text);
// Says what went wrong, keeps it for the JSON object and the log, and returns status.
int Failure(int status, const std::string& text);
// A result line on stdout (text mode only); a failed write is remembered.
void Print(const std::string& text);

// The object being built for this run's JSON and log line.
QJsonObject& Result();

// Ends the run: prints the JSON object (with --json), appends the log line (with --log),
// flushes stdout; returns status, or kExitFile when stdout or the log could not be written.
int EndOutput(int status);
