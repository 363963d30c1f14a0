#pragma once

#include <QString>

/// \brief How one service is shared through a gate: behind a password, with its visitors
/// recorded, or both. Kept apart from the profile, so the stored list keeps its format.
struct GateSettings
{
    bool passwordOn = false;
    bool visitorLogOn = false;
    QString password; ///< used only while passwordOn

    /// Either switch runs the gate in front of the service.
    bool needsGate() const { return passwordOn || visitorLogOn; }

    bool operator==(const GateSettings &) const = default;
};
