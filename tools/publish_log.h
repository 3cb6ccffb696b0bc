// The activity log of the publisher tool and its benchmarks (publish_log.cpp); single-threaded.
#pragma once
#include <string>
#include <vector>

// From now on the lines the launcher's shared code logs go into lines instead of to standard output, so that the
// tool can say in its own words what they mean; null sends them to standard output again.
void CollectLauncherLines(std::vector<std::string>* lines);
