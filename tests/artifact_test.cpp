// The shipped file itself: its format, what it imports and what it exports.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

struct Image {
    std::string bytes;
    const IMAGE_NT_HEADERS32* nt = nullptr;
};

Image load(const char* path)
{
    Image image;
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    image.bytes = text.str();
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.bytes.data());
    if (image.bytes.size() > sizeof *dos && dos->e_magic == IMAGE_DOS_SIGNATURE)
        image.nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(image.bytes.data() + dos->e_lfanew);
    return image;
}

const IMAGE_DATA_DIRECTORY& directory(const Image& image, int entry)
{
    return image.nt->OptionalHeader.DataDirectory[entry];
}

// Where a relative virtual address lies in the file.
const char* at(const Image& image, DWORD rva)
{
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(image.nt);
    for (int i = 0; i < image.nt->FileHeader.NumberOfSections; ++i, ++section)
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
            return image.bytes.data() + section->PointerToRawData + (rva - section->VirtualAddress);
    return nullptr;
}

std::set<std::string> imported_libraries(const Image& image)
{
    std::set<std::string> names;
    if (const DWORD rva = directory(image, IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress)
        for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(image, rva)); d->Name; ++d)
            names.insert(at(image, d->Name));
    if (const DWORD rva = directory(image, IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT).VirtualAddress) {
        for (auto* d = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(at(image, rva)); d->DllNameRVA; ++d) {
            // Old-style descriptors hold addresses rather than offsets.
            const DWORD name = d->Attributes.RvaBased ? d->DllNameRVA
                                                      : d->DllNameRVA - image.nt->OptionalHeader.ImageBase;
            names.insert(at(image, name));
        }
    }
    return names;
}

std::set<std::string> exported_names(const Image& image)
{
    std::set<std::string> names;
    const DWORD rva = directory(image, IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress;
    if (!rva)
        return names;
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(at(image, rva));
    const auto* name_rvas = reinterpret_cast<const DWORD*>(at(image, exports->AddressOfNames));
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        names.insert(at(image, name_rvas[i]));
    return names;
}

class Artifact : public testing::Test {
protected:
    Image image = load(TARVEX_TEST_LAUNCHER_FILE);
    void SetUp() override { ASSERT_NE(image.nt, nullptr) << "not a PE file"; }
};

TEST_F(Artifact, IsAConsolePe32ForI386WithoutResources)
{
    EXPECT_EQ(image.nt->Signature, static_cast<DWORD>(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(image.nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386);
    EXPECT_EQ(image.nt->OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    EXPECT_EQ(image.nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
    EXPECT_EQ(directory(image, IMAGE_DIRECTORY_ENTRY_RESOURCE).Size, 0u);
}

TEST_F(Artifact, ImportsOnlySystemLibraries)
{
    // The user-interface library is loaded by the display probe, not imported.
    const std::set<std::string> expected = {"KERNEL32.dll", "msvcrt.dll"};
    EXPECT_EQ(imported_libraries(image), expected);
}

TEST_F(Artifact, ExportsTheLauncherInterface)
{
    const std::set<std::string> names = exported_names(image);
    for (const char* name : {"display_available", "_Z13prepare_spawnPPc", "main"})
        EXPECT_EQ(names.count(name), 1u) << name;
    // Anything else is a standard string equality or concatenation operator.
    for (const std::string& name : names) {
        const bool ours = name == "display_available" || name == "_Z13prepare_spawnPPc" || name == "main";
        EXPECT_TRUE(ours || name.rfind("_ZSteq", 0) == 0 || name.rfind("_ZStpl", 0) == 0) << name;
    }
}

} // namespace
