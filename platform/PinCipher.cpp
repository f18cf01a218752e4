// Protection of a stored PIN: authenticated encryption (XSalsa20-Poly1305 secret boxes) under a
// key that belongs to the device.
//
// The key is pin.key in the device folder: 32 random bytes, created on first use with mode 0600.
// A key file that others may read has its mode narrowed before it is used; a key file that is
// not a regular file of our own user, or has the wrong size, is refused rather than replaced,
// because replacing it would make every PIN already stored unreadable.
//
// Protected form: nonce (24 bytes, random per call) followed by the secret box (16-byte tag and
// the ciphertext).

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>

#include "platform/Device.h"
#include "platform/Mosutil.h"

namespace platform {

namespace {

using Key = std::array<unsigned char, crypto_secretbox_KEYBYTES>;

// Wipes the key when it goes out of scope.
struct KeyHolder {
  Key key{};
  ~KeyHolder() { sodium_memzero(key.data(), key.size()); }
};

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, unsigned char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes a fresh key to `path` unless a key is already there. The key is written to a private
// temporary file and then linked into place, so another process never sees a half-written key
// and two processes creating it at once agree on one key.
void CreateKey(const std::string& path) {
  KeyHolder fresh;
  randombytes_buf(fresh.key.data(), fresh.key.size());

  std::string tmp = path + ".tmp." + std::to_string(::getpid()) + "." +
                    std::to_string(randombytes_uniform(1u << 30));
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, fresh.key.data(), fresh.key.size()) &&
              ::fsync(fd) == 0;
    ::close(fd);
    if (ok && (::link(tmp.c_str(), path.c_str()) == 0 || errno == EEXIST)) {
      ::unlink(tmp.c_str());
      return;
    }
    ::unlink(tmp.c_str());
  }
  // A file system without hard links: create the key in place. A reader that races with this
  // sees a short file and refuses it, which loses nothing.
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0)
    return;
  bool ok = ::fchmod(fd, 0600) == 0 && WriteAll(fd, fresh.key.data(), fresh.key.size()) &&
            ::fsync(fd) == 0;
  ::close(fd);
  if (!ok)
    ::unlink(path.c_str());
}

// Reads the device's key into `key`, creating it first when `create` is set and none exists.
bool LoadKey(bool create, Key* key) {
  Device* dev = Device::Current();
  if (!dev || !SodiumReady())
    return false;
  const std::string path = (dev->Folder() / "pin.key").string();

  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && create) {
    CreateKey(path);
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0)
    return false;

  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
            st.st_size == static_cast<off_t>(key->size());
  if (ok && (st.st_mode & 077) != 0)
    ok = ::fchmod(fd, 0600) == 0;
  if (ok)
    ok = ReadAll(fd, key->data(), key->size());
  ::close(fd);
  if (!ok)
    sodium_memzero(key->data(), key->size());
  return ok;
}

}  // namespace

std::vector<uint8_t> Encriptar(const std::string& plain) {
  KeyHolder k;
  if (!LoadKey(true, &k.key))
    return {};
  std::vector<uint8_t> out(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + plain.size());
  unsigned char* nonce = out.data();
  randombytes_buf(nonce, crypto_secretbox_NONCEBYTES);
  crypto_secretbox_easy(out.data() + crypto_secretbox_NONCEBYTES,
                        reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), nonce,
                        k.key.data());
  return out;
}

bool Desencriptar(const std::vector<uint8_t>& protectedForm, std::string* plain) {
  constexpr std::size_t kOverhead = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES;
  if (!plain || protectedForm.size() < kOverhead)
    return false;
  KeyHolder k;
  if (!LoadKey(false, &k.key))
    return false;
  const unsigned char* nonce = protectedForm.data();
  const unsigned char* box = nonce + crypto_secretbox_NONCEBYTES;
  const std::size_t boxSize = protectedForm.size() - crypto_secretbox_NONCEBYTES;
  std::vector<unsigned char> clear(boxSize - crypto_secretbox_MACBYTES);
  const bool ok = crypto_secretbox_open_easy(clear.data(), box, boxSize, nonce, k.key.data()) == 0;
  if (ok)
    plain->assign(reinterpret_cast<const char*>(clear.data()), clear.size());
  sodium_memzero(clear.data(), clear.size());
  return ok;
}

}  // namespace platform
