// How long this machine takes to wake a thread that waits on another, idle
// CPU. Every frame of an update passes such wake-ups (the bus's delivery to
// the driver's reader, the reader to the receive thread), so on a machine
// where they are slow the flash and compare phases cannot come near the bus
// time however little the flasher does. The figure goes into the benchmark's
// header beside the machine.
#pragma once

#include <optional>
#include <vector>

namespace bench {

struct WakeLatency
{
    double medianUs = 0;
    double p90Us = 0;
};

// Median and 90th percentile of the samples; none for no samples.
std::optional<WakeLatency> summariseWakeLatency(std::vector<double> samplesUs);

// One thread on the first allowed CPU waits on an eventfd; another, on the
// second, writes it after each pause, so that the waiting CPU has gone idle.
// None when fewer than two CPUs are allowed or a sample cannot be taken.
std::optional<WakeLatency> measureWakeLatency(int samples = 400);

} // namespace bench
