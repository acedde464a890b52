#pragma once

#include "core/Json.h"

#include <QString>

#include <chrono>

struct HubConfiguration;

// The sign-in a parent process hands to a headless capture: the current tokens, read once from a
// private pipe or socket the parent left open in this process, checked against the hub's own client
// and issuer, and never renewed. Nothing touches the keyring.
struct CaptureSession
{
    QString idToken;
    QString accessToken;
    double expiresAt = 0; // milliseconds since 1970

    static constexpr int kLowestDescriptor = 3;
    static constexpr qsizetype kReadSize = 4096;
    static constexpr qsizetype kLimit = 65'536;
    static constexpr std::chrono::milliseconds kDeadline{5000};
    static constexpr double kExpiryMarginSeconds = 180;

    // Marks `descriptor` close-on-exec so that no child of this process (browser-engine helpers,
    // the companion) inherits it. Nothing for a number below 3.
    static void keepFromChildren(int descriptor);

    // Reads one JSON object {idToken, accessToken, expiresAt} from `descriptor`, which must be a
    // FIFO or socket of this user, within 5 s and 64 KiB, then validates it. Closes the descriptor
    // on every outcome except a number below 3, which is refused and left open. Blocks the calling
    // thread inside poll() only. Throws HubError sentences.
    static CaptureSession read(int descriptor, const HubConfiguration &configuration);
    static CaptureSession read(int descriptor, const HubConfiguration &configuration,
                               std::chrono::milliseconds deadline);

    // Both tokens against the configured client and issuer, with the expiry margin, at `nowSeconds`
    // (seconds since 1970).
    void validate(const HubConfiguration &configuration) const;
    void validate(const HubConfiguration &configuration, double nowSeconds) const;

    // The payload of a compact JWT: three non-empty pieces, the second strict base64url (padding
    // optional) of a JSON object. Throws "Capture received a malformed session token." or "Capture
    // session claims are unreadable.".
    static Json claims(const QString &token);
};
