#pragma once

#include <string>

// One cell of a CSV file: quoted when it holds a comma, a quote or a line
// end, its quotes doubled. Typed text (names, ids, file names) that starts
// like a spreadsheet formula gets a leading apostrophe and quotes, so that a
// spreadsheet shows it as text instead of running it.
std::string csvField(const std::string& text, bool typed);
