#pragma once

#include <optional>

// qxj-judge --stats and --similarity: the contest's report pages, written
// from what is on disk. The exit status when the arguments ask for a
// report; nothing when they are a judging run's.
std::optional<int> runReportCommand(int &argc, char **argv);
