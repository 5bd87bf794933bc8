#pragma once
// The sim mode of pty_device (built into pty_sim_device only).
#include <csignal>
#include <string>

// Serves the simulated adapter configured by the file configPath on the pty
// (master and slave are the fixture's; LINK already points at the slave)
// until stop is set; prints "ready" once it serves. Owns master and slave.
int ServeSim(int master, int slave, const std::string& link, const std::string& configPath,
             volatile std::sig_atomic_t& stop);
