#include "PortDiagnosis.h"

#include "HexText.h"
#include "Messages.h"

#include <nlohmann/json.hpp>

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
        return say(Msg::NoDevice);
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
        return say(Msg::Absent);
    case serial::OpenError::NoPermission: {
        std::string text = say(Msg::NoPermission, {why});
#ifndef _WIN32
        if (!failure.group.empty() && failure.group != "dialout")
            text += say(Msg::DeviceGroup, {failure.group});
        text += say(Msg::DialoutHint);
#endif
        return text;
    }
    case serial::OpenError::InUse:
        return say(Msg::InUse, {holders.empty() ? why : " (" + joined(holders) + ")"});
    case serial::OpenError::Other:
        break;
    }
    return say(Msg::CannotOpen, {why});
}

std::string stateText(const PortDiagnosis& port) {
    const std::string echo = port.echo ? say(Msg::Echoes) : std::string();
    switch (port.state) {
    case PortDiagnosis::CannotOpen:
        return openFailureText(port.failure, port.holders);
    case PortDiagnosis::CannotSetUp:
        return say(Msg::CannotSetUp);
    case PortDiagnosis::Silent:
        return say(Msg::Silent) + echo + (port.holders.empty()
                                       ? std::string()
                                       : say(Msg::AlsoOpenIn, {joined(port.holders)}));
    case PortDiagnosis::Garbled:
        return say(Msg::Garbled, {hex(port.answer)}) + echo;
    case PortDiagnosis::LockAnswers:
        return say(Msg::LockAnswers, {hex(port.answer)}) + echo;
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

std::vector<PortDiagnosis> diagnosePorts(V38Bank& bank, std::uint32_t mask) {
    const std::vector<serial::PortDevice> known = serial::knownPorts();
    std::vector<PortDiagnosis> ports;
    for (int number = 1; number <= SearchedPorts; ++number) {
        if (!(mask & (1u << (number - 1))))
            continue;
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
            port.echo = bank.echoes();
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
        out += "\n" + say(Msg::NeverSearched) + "\n";
        for (const serial::PortDevice& device : unreachable) {
            const std::string com = device.comNumber ? "COM" + std::to_string(device.comNumber)
                                                     : say(Msg::NotInPortList);
            out += "  " + deviceText(device) + ": " + com + "\n";
        }
    }
    out += "\n" +
           (found.empty() ? say(Msg::NoLockAnswered) : say(Msg::LockAnswersOn, {joined(found)})) +
           "\n";
    return out;
}

namespace {
std::string stateName(const PortDiagnosis& port) {
    switch (port.state) {
    case PortDiagnosis::CannotOpen:
        switch (port.failure.error) {
        case serial::OpenError::None:
        case serial::OpenError::Absent:
            return "absent";
        case serial::OpenError::NoPermission:
            return "noPermission";
        case serial::OpenError::InUse:
            return "inUse";
        case serial::OpenError::Other:
            break;
        }
        return "cannotOpen";
    case PortDiagnosis::CannotSetUp:
        return "cannotSetUp";
    case PortDiagnosis::Silent:
        return "silent";
    case PortDiagnosis::Garbled:
        return "garbled";
    case PortDiagnosis::LockAnswers:
        return "lockAnswers";
    }
    return {};
}

nlohmann::ordered_json deviceJson(const serial::PortDevice& device) {
    nlohmann::ordered_json out = {
        {"com", device.comNumber ? nlohmann::ordered_json("COM" + std::to_string(device.comNumber))
                                 : nlohmann::ordered_json()},
        {"device",
         device.device.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(device.device)}};
    if (!device.stableName.empty())
        out["stableName"] = device.stableName;
    if (!device.usbId.empty())
        out["usbId"] = device.usbId;
    if (!device.description.empty())
        out["description"] = device.description;
    return out;
}

// Text from the system (a device's name, an error's text) may be in its code page.
std::string dumped(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}
} // namespace

std::string diagnosisJson(const std::vector<PortDiagnosis>& ports,
                          const std::vector<serial::PortDevice>& unreachable) {
    std::string out = "{\n  \"ports\": [";
    std::vector<std::string> found;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const PortDiagnosis& port = ports[i];
        nlohmann::ordered_json entry = deviceJson(port.device);
        entry["com"] = "COM" + std::to_string(port.comNumber);
        entry["state"] = stateName(port);
        entry["text"] = stateText(port);
        if (!port.failure.systemText.empty())
            entry["systemText"] = port.failure.systemText;
        if (!port.holders.empty())
            entry["heldBy"] = port.holders;
        if (port.state == PortDiagnosis::LockAnswers || port.state == PortDiagnosis::Garbled)
            entry["answer"] = hex(port.answer);
        if (port.echo)
            entry["echo"] = true;
        if (port.state == PortDiagnosis::LockAnswers)
            found.push_back("COM" + std::to_string(port.comNumber));
        out += (i ? ",\n    " : "\n    ") + dumped(entry);
    }
    out += "\n  ],\n  \"neverSearched\": [";
    for (std::size_t i = 0; i < unreachable.size(); ++i)
        out += (i ? ",\n    " : "\n    ") + dumped(deviceJson(unreachable[i]));
    out += unreachable.empty() ? "]" : "\n  ]";
    return out + ",\n  \"lockAnswersOn\": " + dumped(found) + "\n}\n";
}

std::vector<std::string> whyNotFound(V38Bank& bank, std::uint32_t mask) {
    const std::vector<serial::PortDevice> known = serial::knownPorts();
    std::vector<std::string> lines;
    int absent = 0;
    for (int number = 1; number <= SearchedPorts; ++number) {
        if (!(mask & (1u << (number - 1))))
            continue;
        const serial::PortDevice device = deviceFor(number, known);
        std::string why;
        if (!bank.selectPort(number)) {
            const serial::OpenFailure failure = bank.openFailure();
            // A port without a device is only counted; a device named but not there
            // (unplugged, a stale V38_PORTS entry) is worth its own line.
            if (failure.error == serial::OpenError::Absent && device.device.empty()) {
                ++absent;
                continue;
            }
            const std::vector<std::string> holders = failure.error == serial::OpenError::InUse
                                                         ? serial::programsHolding(device.device)
                                                         : std::vector<std::string>();
            why = failure.error == serial::OpenError::None ? say(Msg::CannotSetUp)
                                                           : openFailureText(failure, holders);
        } else {
            bank.closePort();
            why = say(Msg::OpensNoAnswer);
        }
        const std::string com = "COM" + std::to_string(number);
        char name[8];
        std::snprintf(name, sizeof name, "%-6s", com.c_str());
        lines.push_back(name + (device.device.empty() ? std::string() : device.device + ": ") +
                        why);
    }
    if (absent)
        lines.push_back(say(Msg::OthersAbsent, {std::to_string(absent)}));
    return lines;
}

} // namespace v38::ctl
