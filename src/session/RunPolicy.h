#pragma once

/// \brief How every session of a store runs `cloudflared`, shared between them while the program runs.
struct RunPolicy
{
    /// Start `cloudflared` again when it drops out of an online tunnel: the user's preference.
    bool restartAfterDrop = true;
    /// QUIC does not get through this network, so every start asks for HTTP/2. Learnt, never stored.
    bool http2 = false;
};
