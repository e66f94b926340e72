#pragma once

namespace v38::ctl {

struct Invocation;

// The commands, each given a line already checked against the table (CommandLine.h);
// each returns the exit status.
int probeCommand(const Invocation& call);
int portsCommand(const Invocation& call);
int readCommand(const Invocation& call);
int writeCommand(const Invocation& call);
int showCommand(const Invocation& call);
int exportCommand(const Invocation& call);
int importCommand(const Invocation& call);
int diffCommand(const Invocation& call);
int verifyCommand(const Invocation& call);
int textconvCommand(const Invocation& call);

} // namespace v38::ctl
