#include "storage/configuration_file.h"

#include <array>
#include <unordered_map>
#include <utility>

#include "common/atomic_file.h"
#include "common/catalogue.h"
#include "common/format.h"
#include "protocol/frame_codec.h"

namespace kvtr {
namespace {

// Every class a configuration file may name. CommonParams is not stored by class.
constexpr std::array<ArchiveClass, 8> kClasses = {{
    {"CZRP8Doc", ""},
    {"ObjectWithParameters", ""},
    {"InvisibleElement", "ObjectWithParameters"},
    {"DescBranch", "InvisibleElement"},
    {"NetRS485", "InvisibleElement"},
    {"NetRS485prg", "NetRS485"},
    {"MyConverter", ""},
    {"Parameter", "MyConverter"},
}};

// The document schema -1, as its two bytes hold it.
constexpr std::uint16_t kDocumentSchemaMinusOne = 0xFFFF;
constexpr std::uint16_t kDocumentSchemaOldest = 1;

std::uint8_t flagByte(std::uint8_t stored) { return stored != 0 ? 1 : 0; }

std::unique_ptr<ParameterTree> treeWithoutDocument() {
  auto tree = std::make_unique<ParameterTree>();
  tree->descriptorSelector = kDescriptorSelectorNone;
  return tree;
}

}  // namespace

std::span<const ArchiveClass> ConfigurationClasses() { return kClasses; }

std::uint32_t ParameterKey(const Parameter& parameter) {
  const std::uint32_t high = parameter.hasIndex ? static_cast<std::uint16_t>(parameter.index) : kNoIndexKey;
  return hashName(parameter.name) | (high << 16);
}

// ---------------------------------------------------------------- saving

void SerializeParameter(ArchiveWriter& archive, const Parameter& parameter) {
  archive.writeClass("MyConverter", kConverterSchema);
  archive.writeText(parameter.name);
  archive.writeText(parameter.value);
  archive.writeClass("Parameter", kParameterSchema);
  archive.writeText(parameter.description);
  archive.writeByte(parameter.hasIndex);
  archive.writeDword(static_cast<std::uint32_t>(parameter.index));
  archive.writeDword(parameter.scanId);
  archive.writeByte(parameter.exchangeable);
  archive.writeText(parameter.comment);
  archive.writeByte(parameter.valueChanged);
  archive.writeByte(parameter.accessChanged);
  archive.writeByte(parameter.ownerChanged);
  archive.writeByte(parameter.editable);
  archive.writeByte(parameter.ownerFirm);
  archive.writeDword(static_cast<std::uint32_t>(parameter.attributeMark));
}

void SerializeBranch(ArchiveWriter& archive, const DescBranch& branch) {
  archive.writeClass("DescBranch", kBranchSchema);
  archive.writeText(branch.title);
  archive.writeDword(static_cast<std::uint32_t>(branch.ParameterCount()));
  for (const auto& parameter : branch.parameters()) {
    archive.writeDword(ParameterKey(*parameter));
    SerializeParameter(archive, *parameter);
  }
  archive.writeDword(static_cast<std::uint32_t>(branch.instanceCount));
  archive.writeDword(static_cast<std::uint32_t>(branch.instanceNumber));
  for (const auto& child : branch.children) SerializeBranch(archive, *child);
}

void SerializeNode(ArchiveWriter& archive, const InvisibleElement& node) {
  archive.writeClass("InvisibleElement", kNodeSchema);
  archive.writeText(node.title);
  archive.writeDword(static_cast<std::uint32_t>(node.ParameterCount()));
  for (const auto& parameter : node.parameters()) SerializeParameter(archive, *parameter);
}

std::vector<std::uint8_t> SerializeConfiguration(const ParameterTree& tree) {
  ArchiveWriter archive;
  archive.writeClass(kDocumentClassName, kDocumentSchema);
  archive.writeDword(tree.descriptorSelector);
  if (tree.root() != nullptr) SerializeBranch(archive, *tree.root());
  return archive.takeBytes();
}

bool SaveConfigurationFile(const ParameterTree& tree, const std::filesystem::path& path, std::string* error) {
  const std::vector<std::uint8_t> bytes = SerializeConfiguration(tree);
  return writeFileAtomically(path, bytes, error);
}

// ---------------------------------------------------------------- opening

void ReadParameter(ArchiveReader& archive, Parameter& parameter, bool keepValue) {
  if (archive.readClass("MyConverter") == kConverterSchema) {
    std::string name = archive.readText();
    std::string value = archive.readText();
    // The stored name replaces the descriptor's only when it addresses the same parameter of the
    // module; a file cannot turn one parameter into another.
    if (hashName(name) == hashName(parameter.name)) parameter.name = std::move(name);
    if (!keepValue) parameter.value = std::move(value);
  }
  if (archive.readClass("Parameter") == kParameterSchema) {
    parameter.description = archive.readText();
    parameter.hasIndex = flagByte(archive.readByte());
    parameter.index = static_cast<int>(archive.readDword());
    parameter.scanId = archive.readDword();
    parameter.exchangeable = flagByte(archive.readByte());
    parameter.comment = archive.readText();
    parameter.valueChanged = flagByte(archive.readByte());
    parameter.accessChanged = flagByte(archive.readByte());
    parameter.ownerChanged = flagByte(archive.readByte());
    parameter.editable = flagByte(archive.readByte());
    parameter.ownerFirm = flagByte(archive.readByte());
    parameter.attributeMark = static_cast<int>(archive.readDword());
  }
}

void ReadBranch(ArchiveReader& archive, DescBranch& branch) {
  // Built before anything is read: two parameters with the same key leave the later one in the
  // map, and every stored entry of that key then goes into it.
  std::unordered_map<std::uint32_t, Parameter*> byKey;
  byKey.reserve(branch.ParameterCount());
  for (const auto& parameter : branch.parameters()) byKey[ParameterKey(*parameter)] = parameter.get();

  if (archive.readClass("DescBranch") == kBranchSchema) {
    branch.title = archive.readText();
    const std::uint32_t count = archive.readDword();
    for (std::uint32_t i = 0; i < count; ++i) {
      std::uint32_t key = 0;
      if (!archive.tryReadDword(key)) break;
      const auto found = byKey.find(key);
      if (found != byKey.end()) {
        ReadParameter(archive, *found->second, false);
      } else {
        // A parameter the descriptor no longer has: read, so that the next entry is found, and
        // dropped.
        Parameter scratch;
        ReadParameter(archive, scratch, false);
      }
    }
    branch.instanceCount = static_cast<int>(archive.readDword());
    branch.instanceNumber = static_cast<int>(archive.readDword());
  }
  for (const auto& child : branch.children) ReadBranch(archive, *child);
}

void ReadNode(ArchiveReader& archive, InvisibleElement& node) {
  (void)archive.readClass("InvisibleElement");
  node.title = archive.readText();
  (void)archive.readDword();  // the count follows from the node's own parameters
  // The program's own port settings are the computer's, not the configuration's: they keep
  // their values.
  const bool portSettings = node.GetNodeKind() == NodeKind::NetRS485prg;
  if (!portSettings) node.ResetValues();
  for (const auto& parameter : node.parameters()) ReadParameter(archive, *parameter, portSettings);
}

DescriptorSource DescriptorFromFile(std::filesystem::path file, DescriptorLoadOptions options) {
  return [file = std::move(file), options = std::move(options)](ParameterTree& tree, UserInterface& ui) {
    (void)LoadDescriptor(tree, file, ui, options);
  };
}

DescriptorSource DescriptorFromText(std::string text, DescriptorLoadOptions options) {
  return [text = std::move(text), options = std::move(options)](ParameterTree& tree, UserInterface& ui) {
    if (DescriptorStreamName(tree.descriptorSelector).empty()) {
      tree.Clear();
      return;
    }
    (void)LoadDescriptorText(tree, text, ui, options);
  };
}

OpenResult OpenConfiguration(std::span<const std::uint8_t> bytes, UserInterface& ui, const OpenOptions& options) {
  OpenResult result;
  ArchiveReader archive(bytes, kClasses);
  try {
    const std::uint16_t schema = archive.readClass(kDocumentClassName);
    if (schema == kDocumentSchema) {
      auto tree = std::make_unique<ParameterTree>();
      const std::size_t selectorAt = archive.offset();
      tree->descriptorSelector = archive.readDword();
      if (options.loadDescriptor) options.loadDescriptor(*tree, ui);
      if (tree->root() != nullptr) {
        ReadBranch(archive, *tree->root());
      } else if (!archive.atEnd()) {
        // A document without a tree ends after its selector. A tree stored after a selector
        // that names no descriptor is a damaged selector, not a document without a tree.
        result.status = OpenStatus::Corrupt;
        result.detail = strprintf("селектор описания %u на позиции %zu не известен программе, а за ним ещё %zu байт",
                                  tree->descriptorSelector, selectorAt, archive.remaining());
        ui.showMessage(tr(kCorruptFileText.data()), tr(kOpenErrorCaption.data()), MessageIcon::Exclamation);
        return result;
      }
      result.status = OpenStatus::Opened;
      result.tree = std::move(tree);
      if (!archive.atEnd()) {
        result.trailingBytes = archive.remaining();
        result.detail = strprintf(trFormat(kTrailingDataFormat), archive.remaining(), archive.offset());
        ui.showMessage(result.detail, tr(kMalformedFileCaption.data()), MessageIcon::Exclamation);
      }
    } else if (schema == kDocumentSchemaWithoutTree) {
      result.status = OpenStatus::NoTree;
      result.tree = treeWithoutDocument();
    } else if (schema == kDocumentSchemaOldest || schema == kDocumentSchemaMinusOne) {
      result.status = OpenStatus::Outdated;
      result.detail = strprintf(trFormat("схема документа %d"), static_cast<int>(static_cast<std::int16_t>(schema)));
      ui.showMessage(tr(kOutdatedFileText.data()), tr(kOpenErrorCaption.data()), MessageIcon::Exclamation);
    } else {
      result.status = OpenStatus::Corrupt;
      result.detail = strprintf(trFormat("схема документа %u"), static_cast<unsigned>(schema));
      ui.showMessage(tr(kCorruptFileText.data()), tr(kOpenErrorCaption.data()), MessageIcon::Exclamation);
    }
  } catch (const ArchiveError& error) {
    // A file cut short is reported like any other malformed file: the user must learn that the
    // configuration was not read.
    result.status = OpenStatus::Malformed;
    result.detail = error.what();
    result.tree = options.batchSilent ? treeWithoutDocument() : nullptr;
    ui.showMessage(tr(kMalformedFileText.data()), tr(kMalformedFileCaption.data()), MessageIcon::Exclamation);
  }
  return result;
}

OpenResult OpenConfigurationFile(const std::filesystem::path& path, UserInterface& ui, const OpenOptions& options) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  if (!readWholeFile(path, bytes, &error)) {
    OpenResult result;
    result.status = OpenStatus::Unreadable;
    result.detail = error;
    ui.showMessage(error, tr(kOpenErrorCaption.data()), MessageIcon::Stop);
    return result;
  }
  return OpenConfiguration(bytes, ui, options);
}

}  // namespace kvtr
