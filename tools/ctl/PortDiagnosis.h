#pragma once

#include "V38Bank.h"
#include "serial/PortInfo.h"

#include <string>
#include <vector>

namespace v38::ctl {

// What one COM port did when it was opened and probed as the search does.
struct PortDiagnosis {
    enum State {
        CannotOpen,  // see failure; OpenError::Absent when there is no device
        CannotSetUp, // it opened but refused the lock's line settings
        Silent,      // it opened and nothing answered either probe
        Garbled,     // bytes came, but not the lock's answer
        LockAnswers,
    };
    int comNumber = 0;
    serial::PortDevice device;
    State state = CannotOpen;
    serial::OpenFailure failure;
    ProbeAnswer answer;               // LockAnswers, Garbled
    bool echo = false;                // its converter echoes what the PC sends
    std::vector<std::string> holders; // CannotOpen (in use), Silent: who else has it open
};

// Opens each of COM1..COM16 with the lock's settings, lets it settle, probes it up to
// twice and closes it: the search's own steps, with nothing else sent, but carried on
// after a lock answers. Only the ports of `mask` (bit k: COM k+1) are tried and listed.
std::vector<PortDiagnosis> diagnosePorts(V38Bank& bank, std::uint32_t mask = AllComPorts);

// One line per port, then the ports that no search reaches, then a summary line.
std::string describeDiagnosis(const std::vector<PortDiagnosis>& ports,
                              const std::vector<serial::PortDevice>& unreachable);

// The same as one JSON document: "ports" (one object per port: "com", "device", what
// identifies it, "state", "text", and where they apply "systemText", "heldBy",
// "answer"), "neverSearched" and "lockAnswersOn".
std::string diagnosisJson(const std::vector<PortDiagnosis>& ports,
                          const std::vector<serial::PortDevice>& unreachable);

// After a search of the ports of `mask` found no lock: one line per port that has a
// device, saying why the lock was not found there (it cannot be opened and why, or it
// opened and nothing answered), then how many had no device. Each port is opened again
// for a moment, and nothing is sent.
std::vector<std::string> whyNotFound(V38Bank& bank, std::uint32_t mask);

// The ports of knownPorts() beyond COM16, or with no COM number at all.
std::vector<serial::PortDevice> unreachablePorts(const std::vector<serial::PortDevice>& known);

} // namespace v38::ctl
