#include "Shared/SecretStore.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

#include "Runtime/AtomicFile.hpp"
#include "Runtime/Base64.hpp"
#include "Runtime/BoundedJson.hpp"
#include "Runtime/Logger.hpp"
#include "Runtime/Mutex.hpp"
#include "Runtime/RegularFile.hpp"
#include "Runtime/Result.hpp"
#include "Runtime/XdgFolders.hpp"
#include "Shared/Json.hpp"

namespace quib {
namespace fs = std::filesystem;

namespace {

// One lock for every store of the process: a change reads, modifies and writes a whole service
// file, and two such changes must never interleave.
Mutex& storeLock() {
    static Mutex lock;
    return lock;
}

bool keepsInFileName(char c, bool first) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    return plain || (c == '.' && !first);
}

// A file name that is always one plain, visible name inside the folder, whatever the label holds.
std::string fileNameFor(std::string_view service) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string name;
    for (std::size_t i = 0; i < service.size(); ++i) {
        const char c = service[i];
        if (keepsInFileName(c, i == 0)) {
            name += c;
            continue;
        }
        const auto byte = static_cast<unsigned char>(c);
        name += '%';
        name += hex[byte >> 4];
        name += hex[byte & 0x0F];
    }
    return name + ".json";
}

// Makes the folder (0700) when it is missing and tightens its mode when it is looser.
bool ensureFolder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        if (const auto parent = folder.parent_path(); !parent.empty()) {
            fs::create_directories(parent, ec);
            if (ec) return false;
        }
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (!fs::is_directory(folder, ec)) return false;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return false;
    return (info.st_mode & 07777) == 0700 || ::chmod(folder.c_str(), 0700) == 0;
}

// A service file holds a few keys; anything far larger is not one.
constexpr std::uintmax_t largestServiceFile = 16 << 20;

// The accounts of one service file: none when the file is missing; `damaged` when something is
// there but it does not hold a service file: not a regular file (a FIFO would block the reader
// for ever, a device feed it without end), too large, unreadable or not such a JSON object.
struct ServiceFile {
    Json accounts = Json::object();
    bool damaged = false;
};

Result<ServiceFile> loadServiceFile(const fs::path& path) {
    auto contents = readRegularFileIfPresent(path, largestServiceFile);
    if (!contents) return ServiceFile{Json::object(), true};
    if (!contents->has_value()) return ServiceFile{};
    auto parsed = BoundedJson::parse(**contents);
    if (!parsed || !parsed->is_object()) return ServiceFile{Json::object(), true};
    auto accounts = parsed->find("accounts");
    if (accounts == parsed->end() || !accounts->is_object()) return ServiceFile{Json::object(), true};
    return ServiceFile{std::move(*accounts), false};
}

// The accounts to change. A damaged file is moved aside first so that the write that follows
// never destroys secrets a person could still recover from it.
Result<Json> loadForChange(const fs::path& path) {
    auto file = loadServiceFile(path);
    if (!file) return file.error();
    if (!file->damaged) return std::move(file->accounts);
    auto aside = setFileAside(path);
    if (!aside) {
        quibLog().error("Secret file is unreadable and could not be kept aside: ", pub(aside.error().message));
        return aside.error();
    }
    quibLog().error("Secret file ", pub(path.string()), " was unreadable; kept it as ", pub(aside->string()));
    return Json::object();
}

// Writes the service's accounts, or removes its file once no account is left.
bool saveServiceFile(const fs::path& path, std::string_view service, const Json& accounts) {
    if (accounts.empty()) {
        std::error_code ec;
        fs::remove(path, ec);
        return !ec;
    }
    std::string text;
    try {
        Json file = Json::object();
        file["service"] = std::string(service);
        file["accounts"] = accounts;
        text = file.dump(2) + "\n";
    } catch (const Json::exception&) {
        return false;  // a label or account name that is not valid UTF-8
    }
    return writeFileAtomically(path, text, 0600, 0700).ok();
}

}  // namespace

fs::path SecretStore::defaultFolder() { return xdgDataHome() / "Quib" / "Secrets"; }

SecretStore::SecretStore(fs::path folder) : folder_(std::move(folder)) {}

fs::path SecretStore::fileFor(std::string_view service) const { return folder_ / fileNameFor(service); }

std::optional<Bytes> SecretStore::read(std::string_view service, std::string_view account) const {
    MutexLock guard(storeLock());
    auto file = loadServiceFile(fileFor(service));
    if (!file || file->damaged) return std::nullopt;
    auto secret = file->accounts.find(account);
    if (secret == file->accounts.end() || !secret->is_string()) return std::nullopt;
    return base64Decode(secret->get_ref<const std::string&>());
}

bool SecretStore::write(const Bytes& data, std::string_view service, std::string_view account) const {
    MutexLock guard(storeLock());
    if (!ensureFolder(folder_)) return false;
    const fs::path path = fileFor(service);
    auto accounts = loadForChange(path);
    if (!accounts) return false;
    (*accounts)[std::string(account)] = base64Encode(data);
    return saveServiceFile(path, service, *accounts);
}

bool SecretStore::remove(std::string_view service, std::string_view account) const {
    MutexLock guard(storeLock());
    const fs::path path = fileFor(service);
    auto accounts = loadForChange(path);
    if (!accounts) return false;
    if (accounts->erase(std::string(account)) == 0) return true;
    return saveServiceFile(path, service, *accounts);
}

bool SecretStore::isUsable() const {
    const Bytes probe{0x01};
    if (!write(probe, awayService, probeAccount)) return false;
    const auto back = read(awayService, probeAccount);
    (void)remove(awayService, probeAccount);
    return back == probe;
}

}  // namespace quib
