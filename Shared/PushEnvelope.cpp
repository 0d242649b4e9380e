#include "Shared/PushEnvelope.hpp"

#include <openssl/evp.h>

#include <climits>
#include <memory>

#include "Runtime/Base64.hpp"
#include "Runtime/SecureRandom.hpp"
#include "Shared/QuibCoder.hpp"

namespace quib {
namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

CipherContext newContext() { return CipherContext(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free); }

bool fitsInt(std::size_t size) { return size <= static_cast<std::size_t>(INT_MAX); }

}  // namespace

PushEnvelope::Sealed PushEnvelope::Sealed::fromJson(const Json& json) {
    const JsonReader r(json);
    return Sealed{r.required<std::string>("box"), r.required<std::int64_t>("version")};
}

Json PushEnvelope::Sealed::toJson() const { return JsonWriter().put("box", box).put("version", version).take(); }

Error PushEnvelope::error(Failure failure) {
    switch (failure) {
        case Failure::noKeyFits: return fail("None of the keys opens the sealed alert");
        case Failure::unreadable: return fail("The sealed alert cannot be read");
        case Failure::badKey: return fail("A sealing key must be exactly 32 bytes");
    }
    return fail("The sealed alert cannot be read");
}

Result<PushEnvelope::Sealed> PushEnvelope::seal(const AgentAlert& alert, std::span<const std::uint8_t> key) {
    if (key.size() != keyLength) return error(Failure::badKey);
    const Bytes random = secureRandomBytes(nonceLength, "Secure random source failed while sealing an alert");
    Nonce nonce{};
    std::copy(random.begin(), random.end(), nonce.begin());
    return seal(alert, key, nonce);
}

Result<PushEnvelope::Sealed> PushEnvelope::seal(const AgentAlert& alert, std::span<const std::uint8_t> key,
                                                const Nonce& nonce) {
    if (key.size() != keyLength) return error(Failure::badKey);
    auto json = QuibCoder::encode(alert);
    if (!json) return json.error();
    auto combined =
        sealCombined(std::span(reinterpret_cast<const std::uint8_t*>(json->data()), json->size()), key, nonce);
    if (!combined) return combined.error();
    return Sealed{base64Encode(*combined), Sealed::currentVersion};
}

Result<AgentAlert> PushEnvelope::open(const Sealed& envelope, const std::vector<Bytes>& keys) {
    if (envelope.version != Sealed::currentVersion) return error(Failure::unreadable);
    const auto combined = base64Decode(envelope.box);
    if (!combined) return error(Failure::unreadable);
    for (const auto& key : keys) {
        const auto plaintext = openCombined(*combined, key);
        if (!plaintext) continue;
        auto alert = QuibCoder::decode<AgentAlert>(textOf(*plaintext));
        if (alert) return std::move(*alert);
    }
    return error(Failure::noKeyFits);
}

Json PushEnvelope::payload(const Sealed& envelope, std::string_view category, bool isTimeSensitive, bool isSilent,
                           std::string_view threadID, double relevance) {
    Json aps = Json::object();
    aps["alert"] = Json{{"title", placeholderTitle}, {"body", placeholderBody}};
    aps["mutable-content"] = 1;
    aps["category"] = category;
    aps["thread-id"] = opaqueThread(threadID);
    aps["relevance-score"] = relevance;
    aps["interruption-level"] = isTimeSensitive ? "time-sensitive" : "passive";
    if (!isSilent) aps["sound"] = "default";
    Json payload = Json::object();
    payload["aps"] = std::move(aps);
    payload[std::string(payloadKey)] = Json{{"box", envelope.box}, {"version", envelope.version}};
    return payload;
}

std::string PushEnvelope::opaqueThread(std::string_view threadID) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(threadID.data(), threadID.size(), digest, &length, EVP_sha256(), nullptr) != 1 || length < 8) {
        return std::string(16, '0');  // SHA-256 does not fail on memory it was handed
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string opaque;
    for (int i = 0; i < 8; ++i) {
        opaque += hex[digest[i] >> 4];
        opaque += hex[digest[i] & 0x0F];
    }
    return opaque;
}

Result<Bytes> PushEnvelope::sealCombined(std::span<const std::uint8_t> plaintext, std::span<const std::uint8_t> key,
                                         const Nonce& nonce) {
    if (key.size() != keyLength) return error(Failure::badKey);
    if (!fitsInt(plaintext.size())) return fail("The alert is too long to seal");
    const auto context = newContext();
    Bytes combined(nonceLength + plaintext.size() + tagLength);
    std::copy(nonce.begin(), nonce.end(), combined.begin());
    std::uint8_t* const ciphertext = combined.data() + nonceLength;
    int written = 0;
    int finished = 0;
    const bool sealed =
        context && EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data()) == 1 &&
        EVP_EncryptUpdate(context.get(), ciphertext, &written, plaintext.data(), static_cast<int>(plaintext.size())) ==
            1 &&
        EVP_EncryptFinal_ex(context.get(), ciphertext + written, &finished) == 1 &&
        static_cast<std::size_t>(written + finished) == plaintext.size() &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(tagLength),
                            ciphertext + plaintext.size()) == 1;
    if (!sealed) return fail("The alert could not be sealed");
    return combined;
}

std::optional<Bytes> PushEnvelope::openCombined(std::span<const std::uint8_t> combined,
                                                std::span<const std::uint8_t> key) {
    if (key.size() != keyLength || combined.size() < nonceLength + tagLength || !fitsInt(combined.size()))
        return std::nullopt;
    const std::size_t length = combined.size() - nonceLength - tagLength;
    const std::uint8_t* const ciphertext = combined.data() + nonceLength;
    // OpenSSL takes the expected tag through a non-const pointer; it only reads it.
    Bytes tag(ciphertext + length, ciphertext + length + tagLength);
    const auto context = newContext();
    Bytes plaintext(length);
    int written = 0;
    int finished = 0;
    const bool opened =
        context && EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1 &&
        EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.data(), combined.data()) == 1 &&
        EVP_DecryptUpdate(context.get(), plaintext.data(), &written, ciphertext, static_cast<int>(length)) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(tagLength), tag.data()) == 1 &&
        EVP_DecryptFinal_ex(context.get(), plaintext.data() + written, &finished) == 1;
    if (!opened || static_cast<std::size_t>(written + finished) != length) return std::nullopt;
    return plaintext;
}

}  // namespace quib
