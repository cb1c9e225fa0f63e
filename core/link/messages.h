// What both front ends say in the same words: the details of an exchange that did not get
// done (beside the window's fixed popup, on the command line's stderr), and the names of
// what a choice takes, for the command line's help and its usage errors.
#pragma once

#include <cstddef>

// The version query ended without its prompt.
extern const char kVersionDidNotCome[];
// The register list ended without its prompt after this many characters.
void DescribeCutRegisterList(std::size_t received, char* text, std::size_t size);

// "T1a, T1b, T2a, T2b, M5, K8 or R3": the series' short names.
const char* SeriesNames();
// "300, 600, ... or 115200": the baud rates a port can be opened at.
const char* BaudRateNames();
// "8N1, 8O1, ... or 7N2": the character formats.
const char* FormatNames();
