// Writes the program's resources as a resource script for the platform's
// resource compiler, and its icon as an icon file. The resources are the
// same tables that the Linux build links in (frontend/resources.cpp and
// frontend/dialog_template.cpp), so the two builds cannot drift apart.
// Built and run on the build machine, against the Linux stand-in headers
// that the tables are written with.
//
//   resource_script ICON_FOLDER VERSION SCRIPT_OUT ICON_OUT
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frontend/resource_tables.h"

namespace {

// A resource script string: quoted, ASCII only (the tables hold no
// other text), with quotes and backslashes escaped.
std::string Quoted(LPCWSTR text)
{
    std::string quoted = "\"";
    for (; *text != 0; ++text) {
        if (*text > 0x7E || *text < 0x20) {
            std::fprintf(stderr, "resource_script: only printable ASCII text is supported\n");
            std::exit(1);
        }
        if (*text == '"')
            quoted += '"';
        if (*text == '\\')
            quoted += '\\';
        quoted += static_cast<char>(*text);
    }
    return quoted + "\"";
}

void WriteDialog(std::FILE* out, WORD name, const DialogTable& dialog)
{
    std::fprintf(out, "%u DIALOG %d, %d, %d, %d\nSTYLE 0x%08X\nCAPTION %s\nFONT %u, %s\nBEGIN\n", name,
                 dialog.x, dialog.y, dialog.cx, dialog.cy, dialog.style, Quoted(dialog.caption).c_str(),
                 dialog.pointSize, Quoted(dialog.fontFace).c_str());
    for (int i = 0; i < dialog.count; ++i) {
        const DialogItem& item = dialog.items[i];
        std::fprintf(out, "    CONTROL %s, %d, %s, 0x%08X, %d, %d, %d, %d\n", Quoted(item.title).c_str(), item.id,
                     Quoted(item.windowClass).c_str(), item.style, item.x, item.y, item.cx, item.cy);
    }
    std::fprintf(out, "END\n\n");
}

void WriteAccelerators(std::FILE* out, WORD name, const AcceleratorTable& table)
{
    std::fprintf(out, "%u ACCELERATORS\nBEGIN\n", name);
    for (int i = 0; i < table.count; ++i) {
        const ACCEL& key = table.entries[i];
        std::fprintf(out, "    %u, %u, %s%s%s\n", key.key, key.cmd, key.fVirt & FVIRTKEY ? "VIRTKEY" : "ASCII",
                     key.fVirt & FALT ? ", ALT" : "", key.fVirt & FNOINVERT ? ", NOINVERT" : "");
    }
    std::fprintf(out, "END\n\n");
}

std::vector<char> ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(file), {});
}

void PutLittleEndian(std::vector<char>& bytes, unsigned value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// An icon file whose images are the PNG pictures themselves, as the
// platform's icon format allows. A picture's name is its file's name
// within folder.
bool WriteIcon(const std::string& folder, const IconPictures& group, const std::string& path)
{
    std::vector<std::vector<char>> pictures;
    for (int i = 0; i < group.count; ++i) {
        pictures.push_back(ReadFile(folder + "/" + group.images[i]));
        if (pictures.back().size() < 24)
            return false;
    }
    std::vector<char> icon;
    PutLittleEndian(icon, 0, 2);
    PutLittleEndian(icon, 1, 2);
    PutLittleEndian(icon, static_cast<unsigned>(pictures.size()), 2);
    size_t offset = 6 + 16 * pictures.size();
    for (const std::vector<char>& png : pictures) {
        // Width and height from the PNG header; 256 is written as 0.
        icon.push_back(png[19]);
        icon.push_back(png[23]);
        PutLittleEndian(icon, 0, 2);
        PutLittleEndian(icon, 1, 2);
        PutLittleEndian(icon, 32, 2);
        PutLittleEndian(icon, static_cast<unsigned>(png.size()), 4);
        PutLittleEndian(icon, static_cast<unsigned>(offset), 4);
        offset += png.size();
    }
    for (const std::vector<char>& png : pictures)
        icon.insert(icon.end(), png.begin(), png.end());
    std::ofstream file(path, std::ios::binary);
    file.write(icon.data(), static_cast<std::streamsize>(icon.size()));
    return static_cast<bool>(file);
}

// File and product version from "major.minor", and the product's name.
void WriteVersion(std::FILE* out, const std::string& version, LPCWSTR product)
{
    unsigned major = 0;
    unsigned minor = 0;
    std::sscanf(version.c_str(), "%u.%u", &major, &minor);
    std::string name = Quoted(product);
    std::fprintf(out,
                 "1 VERSIONINFO\nFILEVERSION %u, %u, 0, 0\nPRODUCTVERSION %u, %u, 0, 0\nFILEOS 0x40004\n"
                 "FILETYPE 0x1\nBEGIN\n    BLOCK \"StringFileInfo\"\n    BEGIN\n        BLOCK \"040904B0\"\n"
                 "        BEGIN\n            VALUE \"FileDescription\", %s\n            VALUE \"ProductName\", %s\n"
                 "            VALUE \"FileVersion\", \"%s\"\n            VALUE \"ProductVersion\", \"%s\"\n"
                 "            VALUE \"OriginalFilename\", \"quillomarde.exe\"\n        END\n    END\n"
                 "    BLOCK \"VarFileInfo\"\n    BEGIN\n        VALUE \"Translation\", 0x409, 1200\n    END\nEND\n\n",
                 major, minor, major, minor, name.c_str(), name.c_str(), version.c_str(), version.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: resource_script ICON_FOLDER VERSION SCRIPT_OUT ICON_OUT\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[3], "w");
    if (out == nullptr)
        return 1;
    std::fprintf(out, "// Written by resource_script from the program's resource tables.\n\n");
    LPCWSTR product = TEXT("");
    for (int i = 0; i < PROGRAM_MODULE.count; ++i) {
        const ResourceEntry& resource = PROGRAM_MODULE.resources[i];
        switch (resource.type) {
        case RT_STRING:
            std::fprintf(out, "STRINGTABLE\nBEGIN\n    %u, %s\nEND\n\n", resource.name,
                         Quoted(static_cast<LPCWSTR>(resource.data)).c_str());
            if (resource.name == IDS_TITLE)
                product = static_cast<LPCWSTR>(resource.data);
            break;
        case RT_DIALOG:
            WriteDialog(out, resource.name, *static_cast<const DialogTable*>(resource.data));
            break;
        case RT_ACCELERATOR:
            WriteAccelerators(out, resource.name, *static_cast<const AcceleratorTable*>(resource.data));
            break;
        case RT_GROUP_ICON:
            if (!WriteIcon(argv[1], *static_cast<const IconPictures*>(resource.data), argv[4]))
                return 1;
            std::fprintf(out, "%u ICON \"%s\"\n\n", resource.name, argv[4]);
            break;
        }
    }
    WriteVersion(out, argv[2], product);
    return std::fclose(out) == 0 ? 0 : 1;
}
