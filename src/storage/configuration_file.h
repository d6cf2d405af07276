// Configuration files ("*.kvtr"): the values of one parameter tree as an object archive.
//
//   class tag CZRP8Doc (schema 4), dword descriptor selector, then the root branch:
//   class tag DescBranch (schema 3), title, parameter count N, N x (key, parameter),
//   instanceCount, instanceNumber, then every child branch in the same form.
//
// A key is the parameter's name hash in the low half and its index (0xFFFF without index) in the
// high half. A parameter is stored as the MyConverter part (schema 3: name, value) followed by the
// Parameter part (schema 1: description, flags, attributes, comment). Nodes of the other titled
// classes are stored positionally: class tag InvisibleElement, title, count, parameters.
//
// The file does not say how many child branches a branch has: opening rebuilds the tree from the
// descriptor first and then reads the stored values into it, matching parameters by key.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/catalogue.h"
#include "common/user_interface.h"
#include "model/descriptor_loader.h"
#include "model/parameter_tree.h"
#include "model/tree_nodes.h"
#include "storage/archive.h"

namespace kvtr {

inline constexpr std::string_view kDocumentClassName = "CZRP8Doc";
inline constexpr std::uint16_t kDocumentSchema = 4;
// A document of this schema carries no tree.
inline constexpr std::uint16_t kDocumentSchemaWithoutTree = 3;
inline constexpr std::uint16_t kBranchSchema = 3;
inline constexpr std::uint16_t kNodeSchema = 3;
inline constexpr std::uint16_t kConverterSchema = 3;
inline constexpr std::uint16_t kParameterSchema = 1;
// The high half of the key of a parameter without index.
inline constexpr std::uint32_t kNoIndexKey = 0xFFFF;

// Messages of opening a file.
inline constexpr std::string_view kOpenErrorCaption = trMark("Ошибка открытия файла!");
inline constexpr std::string_view kOutdatedFileText = trMark("Невозможно открыть по причине устаревшей версии файла!");
inline constexpr std::string_view kCorruptFileText = trMark("Данные в файле испорчены!");
inline constexpr std::string_view kMalformedFileText =
    trMark("Неверный формат данных! Возможно это устаревшая версия файла.");
inline constexpr std::string_view kMalformedFileCaption = trMark("Предупреждение");
// Bytes after the end of the configuration, with the caption "Предупреждение": "%zu" their
// count, then the offset where they start.
inline constexpr const char* kTrailingDataFormat =
    trMark("После конца конфигурации в файле есть ещё %zu байт (с позиции %zu).\n"
           "Программа их не читает; при сохранении файла они будут потеряны.");

// The serialisable classes a configuration file may name, with their bases.
[[nodiscard]] std::span<const ArchiveClass> ConfigurationClasses();

// hash | index << 16, or hash | 0xFFFF << 16 without index.
[[nodiscard]] std::uint32_t ParameterKey(const Parameter& parameter);

// ---------------------------------------------------------------- saving

// The whole document: class tag, selector and, when the document has a tree, its root branch.
[[nodiscard]] std::vector<std::uint8_t> SerializeConfiguration(const ParameterTree& tree);
void SerializeBranch(ArchiveWriter& archive, const DescBranch& branch);
void SerializeParameter(ArchiveWriter& archive, const Parameter& parameter);
// The positional form of a titled node that is not a descriptor branch.
void SerializeNode(ArchiveWriter& archive, const InvisibleElement& node);

// Saves through a temporary file, so that a failed save leaves the old file as it was.
[[nodiscard]] bool SaveConfigurationFile(const ParameterTree& tree, const std::filesystem::path& path,
                                         std::string* error = nullptr);

// ---------------------------------------------------------------- opening

// The parts of opening; each throws ArchiveError on a malformed archive.
// Stored values go into the branch's parameters by key; entries with a key the branch does not
// have are read and dropped. Child branches follow in the order of the branch's child list.
void ReadBranch(ArchiveReader& archive, DescBranch& branch);
// `keepValue`: the stored value is read and not taken (the program's own port settings).
void ReadParameter(ArchiveReader& archive, Parameter& parameter, bool keepValue);
void ReadNode(ArchiveReader& archive, InvisibleElement& node);

// Builds a tree from the descriptor that the tree's selector names (a selector that names no
// descriptor leaves it empty). The document decides where the descriptor comes from.
using DescriptorSource = std::function<void(ParameterTree& tree, UserInterface& ui)>;
[[nodiscard]] DescriptorSource DescriptorFromFile(std::filesystem::path file, DescriptorLoadOptions options = {});
// A descriptor text held in memory (UTF-8), loaded only for the selector of the module.
[[nodiscard]] DescriptorSource DescriptorFromText(std::string text, DescriptorLoadOptions options = {});

enum class OpenStatus {
  Opened,      // the tree was rebuilt and the stored values read into it
  NoTree,      // a document without a tree (schema 3): the document is cleared
  Outdated,    // schema 1 or -1: message, nothing else read
  Corrupt,     // an unknown document schema, or a selector that names no descriptor with a
               // tree stored after it: message
  Malformed,   // the archive is cut short or malformed: message
  Unreadable,  // the file could not be read: message
};

struct OpenResult {
  OpenStatus status = OpenStatus::Unreadable;
  // The document's new tree. Empty when the document is to keep the tree it has: opening builds
  // the new tree aside and hands it over only when the whole file was read, so that a malformed
  // file never leaves a half-read tree behind.
  std::unique_ptr<ParameterTree> tree;
  // What went wrong, for logs and the command line (the archive error, the file error).
  std::string detail;
  // Opened: bytes left after the end of the configuration (a warning has been shown). Saving the
  // document drops them, so whoever saves the file back must not do so unasked.
  std::size_t trailingBytes = 0;

  [[nodiscard]] bool ok() const { return status == OpenStatus::Opened || status == OpenStatus::NoTree; }
};

struct OpenOptions {
  DescriptorSource loadDescriptor;
  // Batch mode with "silent": a malformed archive also leaves the document without a tree
  // (selector 19), as a schema-3 document does.
  bool batchSilent = false;
};

// Messages go to `ui` with the program's texts and captions.
[[nodiscard]] OpenResult OpenConfiguration(std::span<const std::uint8_t> bytes, UserInterface& ui,
                                           const OpenOptions& options);
[[nodiscard]] OpenResult OpenConfigurationFile(const std::filesystem::path& path, UserInterface& ui,
                                               const OpenOptions& options);

}  // namespace kvtr
