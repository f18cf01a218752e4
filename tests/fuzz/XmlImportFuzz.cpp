// Fuzzes the XML data import: any input must be either refused (as unreadable, not a profile
// set, too large, with a place without id or with a value the program cannot hold) or stored, and
// what was stored must export to a document that reads back. Every input is stored inside a
// transaction that is rolled back, so the database stays small and each input starts from the same
// state.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>

#include <pugixml.hpp>

#include "app/Texts.h"
#include "data/DB.h"
#include "data/ExceptionDB.h"
#include "data/XmlData.h"
#include "platform/Device.h"

namespace fs = std::filesystem;

namespace {

fs::path g_folder;
CDB* g_db = nullptr;

void RemoveDevice() {
  delete g_db;
  g_db = nullptr;
  platform::Device::Close();
  std::error_code ec;
  fs::remove_all(g_folder, ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_folder = fs::temp_directory_path() / ("telvane-fuzz-xml-" + std::to_string(getpid()));
  fs::remove_all(g_folder);
  platform::Device& device = platform::Device::Open(g_folder);
  fs::create_directories(device.ProgramFolder());
  g_db = new CDB();
  g_db->OpenDB();
  std::atexit(RemoveDevice);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  CXmlProfileSet set;
  std::string detail;
  CXmlData::ReadError error = CXmlData::Parse(text, &set, &detail);
  if (error != CXmlData::ReadError::kNone) {
    if (!set.places.empty())
      std::abort();  // a refused file yields nothing to store
    return 0;
  }
  CDB::Transaction transaction(*g_db);
  try {
    CXmlData::Store(*g_db, set);
  } catch (const CExceptionDB&) {
    // A database failure (two places with the same cell, say) refuses the whole file.
    return 0;
  }
  pugi::xml_document doc;
  CXmlData::BuildDocument(*g_db, &doc);
  std::ostringstream exported;
  doc.save(exported);
  CXmlProfileSet again;
  std::string exportedText = exported.str();
  // What the program wrote, it must read back (unless the export outgrew the limits).
  CXmlData::ReadError back = CXmlData::Parse(exportedText, &again, &detail);
  if (back != CXmlData::ReadError::kNone && back != CXmlData::ReadError::kTooLarge)
    std::abort();
  // The database held the unknown place alone; file places with Id 0 update it, the others
  // are added, and the export writes every place.
  std::size_t added = 0;
  for (const CXmlPlace& place : set.places)
    added += place.place.GetId() != 0;
  if (back == CXmlData::ReadError::kNone && again.places.size() != added + 1)
    std::abort();
  return 0;  // the transaction rolls back
}
