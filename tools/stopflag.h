#pragma once

// SIGINT and SIGTERM ask the tools to stop at the next safe point instead of
// killing them mid-write; SIGPIPE becomes a write error the tools report.
void installStopHandlers();
bool stopRequested();
