// The secure session layer's building blocks: protected frames and their
// keys, the receive-side order checks, pairing codes and the commitment
// rounds that compare them, the pairing throttle, and the handshake
// messages with their errors. Every primitive comes from OpenSSL's
// libcrypto; secrets wipe themselves when released. Pure values, no I/O.
// The asynchronous PairingProvider lives in pairing_provider.hpp, apart,
// so that including this header does not pull in Asio.
#pragma once

#include "kit/session/base64.hpp"
#include "kit/session/chacha20_poly1305.hpp"
#include "kit/session/constant_time_equal.hpp"
#include "kit/session/crypto_error.hpp"
#include "kit/session/crypto_library_error.hpp"
#include "kit/session/frame_cipher.hpp"
#include "kit/session/frame_header.hpp"
#include "kit/session/handshake_error.hpp"
#include "kit/session/handshake_message.hpp"
#include "kit/session/hkdf_sha256.hpp"
#include "kit/session/hmac_sha256.hpp"
#include "kit/session/pairing.hpp"
#include "kit/session/pairing_code.hpp"
#include "kit/session/pairing_throttle.hpp"
#include "kit/session/replay_window.hpp"
#include "kit/session/secret_bytes.hpp"
#include "kit/session/secure_random.hpp"
#include "kit/session/sequence_checker.hpp"
#include "kit/session/session_keys.hpp"
#include "kit/session/session_role.hpp"
#include "kit/session/sha256.hpp"
#include "kit/session/x25519_key_pair.hpp"
