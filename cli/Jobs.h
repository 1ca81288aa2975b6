// A small job pool: several files are packed or unpacked at once, one worker per core.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

// The cores of this machine, at least 1.
unsigned DefaultWorkers();

// Runs Work(0) .. Work(Count - 1) on up to Workers threads and returns when all are done. A job
// that throws does not stop the others: its exception comes back at its index (null if none).
std::vector<std::exception_ptr> RunJobs(size_t Count, unsigned Workers,
                                        const std::function<void(size_t)>& Work);
