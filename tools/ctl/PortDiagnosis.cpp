#include "PortDiagnosis.h"

#include "HexText.h"

#include <cstdio>

namespace v38::ctl {

namespace {
constexpr int SearchedPorts = 16; // AllComPorts: COM1..COM16

std::string hex(const ProbeAnswer& answer) {
    return hexText(answer.bytes, answer.received, " ");
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& word : words)
        out += (out.empty() ? "" : ", ") + word;
    return out;
}

std::string deviceText(const serial::PortDevice& device) {
    if (device.device.empty())
        return "(no device)";
    std::vector<std::string> marks;
    if (!device.stableName.empty())
        marks.push_back(device.stableName);
    if (!device.usbId.empty())
        marks.push_back("USB " + device.usbId);
    if (!device.description.empty())
        marks.push_back(device.description);
    return device.device + (marks.empty() ? "" : " [" + joined(marks) + "]");
}

std::string openFailureText(const serial::OpenFailure& failure,
                            const std::vector<std::string>& holders) {
    const std::string why = failure.systemText.empty() ? "" : " (" + failure.systemText + ")";
    switch (failure.error) {
    case serial::OpenError::None:
    case serial::OpenError::Absent:
        return "absent";
    case serial::OpenError::NoPermission: {
        std::string text = "cannot be opened: no permission" + why;
#ifndef _WIN32
        if (!failure.group.empty() && failure.group != "dialout")
            text += "; the device belongs to the group " + failure.group;
        text += "; serial devices belong to the group dialout: sudo usermod -aG dialout $USER, "
                "then log in again";
#endif
        return text;
    }
    case serial::OpenError::InUse:
        return "cannot be opened: in use by another program" +
               (holders.empty() ? why : " (" + joined(holders) + ")");
    case serial::OpenError::Other:
        break;
    }
    return "cannot be opened" + why;
}

std::string stateText(const PortDiagnosis& port) {
    switch (port.state) {
    case PortDiagnosis::CannotOpen:
        return openFailureText(port.failure, port.holders);
    case PortDiagnosis::CannotSetUp:
        return "opens, but does not take the lock's line settings (9600 8N1)";
    case PortDiagnosis::Silent:
        return "opens, but nothing answers the probe: check the RS485 pair (A and B swapped?) "
               "and the lock's power" +
               (port.holders.empty() ? std::string() : "; also open in " + joined(port.holders));
    case PortDiagnosis::Garbled:
        return "opens, and something answers, but not as the lock does: " + hex(port.answer);
    case PortDiagnosis::LockAnswers:
        return "the lock answers: " + hex(port.answer);
    }
    return {};
}

serial::PortDevice deviceFor(int comNumber, const std::vector<serial::PortDevice>& known) {
    for (const serial::PortDevice& device : known) {
        if (device.comNumber == comNumber)
            return device;
    }
    serial::PortDevice none;
    none.comNumber = comNumber;
    return none;
}
} // namespace

std::vector<PortDiagnosis> diagnosePorts(V38Bank& bank) {
    const std::vector<serial::PortDevice> known = serial::knownPorts();
    std::vector<PortDiagnosis> ports;
    for (int number = 1; number <= SearchedPorts; ++number) {
        PortDiagnosis port;
        port.comNumber = number;
        port.device = deviceFor(number, known);
        if (!bank.selectPort(number)) {
            port.failure = bank.openFailure();
            port.state = port.failure.error == serial::OpenError::None ? PortDiagnosis::CannotSetUp
                                                                       : PortDiagnosis::CannotOpen;
        } else {
            ProbeAnswer first;
            ProbeAnswer second;
            const bool answered = bank.probe(first) || bank.probe(second);
            port.answer = second.received ? second : first;
            port.state = answered               ? PortDiagnosis::LockAnswers
                         : port.answer.received ? PortDiagnosis::Garbled
                                                : PortDiagnosis::Silent;
            bank.closePort();
        }
        if (port.state == PortDiagnosis::Silent || port.failure.error == serial::OpenError::InUse)
            port.holders = serial::programsHolding(port.device.device);
        ports.push_back(port);
    }
    return ports;
}

std::vector<serial::PortDevice> unreachablePorts(const std::vector<serial::PortDevice>& known) {
    std::vector<serial::PortDevice> out;
    for (const serial::PortDevice& device : known) {
        if ((device.comNumber == 0 || device.comNumber > SearchedPorts) && !device.device.empty())
            out.push_back(device);
    }
    return out;
}

std::string describeDiagnosis(const std::vector<PortDiagnosis>& ports,
                              const std::vector<serial::PortDevice>& unreachable) {
    std::string out;
    std::vector<std::string> found;
    for (const PortDiagnosis& port : ports) {
        const std::string com = "COM" + std::to_string(port.comNumber);
        char name[8];
        std::snprintf(name, sizeof name, "%-6s", com.c_str());
        out += name + deviceText(port.device) + ": " + stateText(port) + "\n";
        if (port.state == PortDiagnosis::LockAnswers)
            found.push_back(com);
    }
    if (!unreachable.empty()) {
        out += "\nNever searched (only COM1..COM16 are; renumber the port, see the README):\n";
        for (const serial::PortDevice& device : unreachable) {
            const std::string com =
                device.comNumber ? "COM" + std::to_string(device.comNumber) : "not in V38_PORTS";
            out += "  " + deviceText(device) + ": " + com + "\n";
        }
    }
    out += found.empty() ? "\nNo lock answered on COM1..COM16.\n"
                         : "\nThe lock answers on " + joined(found) + ".\n";
    return out;
}

} // namespace v38::ctl
