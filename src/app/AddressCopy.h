#pragma once

class TunnelSession;

/// Puts the public address of \a session on the clipboard if it is online with one; false otherwise.
bool copyPublicAddress(const TunnelSession *session);
