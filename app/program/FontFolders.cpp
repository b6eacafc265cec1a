#include "FontFolders.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <tuple>
#include <vector>

namespace pelk::program
{
namespace
{
// The framework's default sans-serif families, in its order of preference.
const char* const preferredFamilies[] = {"Verdana", "Bitstream Vera Sans", "Luxi Sans", "Liberation Sans",
                                         "DejaVu Sans"};

// The fonts.conf files the framework looks for, in its order; it reads the first that parses.
const char* const fontsConfPaths[] = {"/etc/fonts/fonts.conf", "/usr/share/fonts/fonts.conf",
                                      "/usr/local/etc/fonts/fonts.conf",
                                      "/usr/share/defaults/fonts/fonts.conf"};

// The file name extensions the framework reads.
const char* const fontExtensions = "ttf;pfb;pcf;otf";

// One face as the framework records it, and the file it is read from (device and inode: a symbolic link
// and its target are the same file).
struct Face
{
    juce::File file;
    int index = 0;
    juce::String family, style;
    bool monospaced = false;
    dev_t device = 0;
    ino_t inode = 0;
};

// The same face of the same file, so the same typeface whichever path the framework opens it by.
bool sameFace(const Face& a, const Face& b)
{
    return a.device == b.device && a.inode == b.inode && a.index == b.index;
}

// The framework's order of the faces of one family: regular styles first, then by style name, then
// proportional before monospaced, then by face index and file path.
auto orderKey(const Face& face)
{
    const auto normalcy = [](const juce::String& style)
    {
        if (style == "Regular")
            return 0;
        if (style == "Roman")
            return 1;
        if (style == "Book")
            return 2;
        if (style.containsIgnoreCase("Bold"))
            return 3;
        if (style.containsIgnoreCase("Italic"))
            return 4;
        return 5;
    };
    return std::make_tuple(normalcy(face.style), face.style, face.monospaced, face.index, face.file);
}

bool isInside(const juce::File& file, const juce::Array<juce::File>& folders)
{
    for (const auto& folder : folders)
        if (file.isAChildOf(folder))
            return true;
    return false;
}

struct ConfigDeleter
{
    void operator()(FcConfig* config) const { FcConfigDestroy(config); }
};
using Config = std::unique_ptr<FcConfig, ConfigDeleter>;

// Fontconfig's view of the same fonts.conf, with its cache (made where missing or out of date).
Config loadFontconfig(const juce::File& fontsConf)
{
    Config config(FcConfigCreate());
    if (config == nullptr ||
        !FcConfigParseAndLoad(config.get(), (const FcChar8*) fontsConf.getFullPathName().toRawUTF8(),
                              FcTrue) ||
        !FcConfigBuildFonts(config.get()))
        return nullptr;
    return config;
}

// Whether fontconfig indexes every existing framework folder (and so every font file the framework reads,
// save ones fontconfig skips by name, such as hidden files).
bool coversFolders(FcConfig* config, const juce::Array<juce::File>& folders)
{
    std::vector<juce::File> indexed;
    if (auto* dirs = FcConfigGetFontDirs(config))
    {
        while (const FcChar8* dir = FcStrListNext(dirs))
            indexed.emplace_back(juce::String::fromUTF8((const char*) dir));
        FcStrListDone(dirs);
    }
    for (const auto& folder : folders)
        if (folder.isDirectory() && std::find(indexed.begin(), indexed.end(), folder) == indexed.end())
            return false;
    return true;
}

// The files in the framework's folders, with the extensions it reads, that fontconfig lists under a
// preferred family's name (any of a face's family names, compared as fontconfig compares them: a superset
// of the files whose faces the framework names so).
juce::Array<juce::File> candidateFiles(FcConfig* config, const juce::Array<juce::File>& folders)
{
    juce::Array<juce::File> files;
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    for (const auto* family : preferredFamilies)
    {
        FcPattern* pattern = FcPatternBuild(nullptr, FC_FAMILY, FcTypeString, family, nullptr);
        FcFontSet* fonts = FcFontList(config, pattern, objects);
        FcPatternDestroy(pattern);
        if (fonts == nullptr)
            continue;
        for (int i = 0; i < fonts->nfont; ++i)
        {
            FcChar8* path = nullptr;
            if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &path) != FcResultMatch)
                continue;
            const juce::File file(juce::String::fromUTF8((const char*) path));
            if (file.hasFileExtension(fontExtensions) && isInside(file, folders))
                files.addIfNotAlreadyThere(file);
        }
        FcFontSetDestroy(fonts);
    }
    FcObjectSetDestroy(objects);
    return files;
}

// The scalable faces of the files, named as the framework names them (FreeType's family and style). A file
// met again through another path (a symbolic link) is not read again.
std::vector<Face> readFaces(const juce::Array<juce::File>& files)
{
    std::vector<Face> faces;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0)
        return faces;
    std::map<std::pair<dev_t, ino_t>, std::vector<Face>> read;
    for (const auto& file : files)
    {
        struct stat info;
        if (::stat(file.getFullPathName().toRawUTF8(), &info) != 0)
            continue;
        auto [known, isNew] = read.try_emplace({info.st_dev, info.st_ino});
        if (isNew)
        {
            FT_Long count = 1;
            for (FT_Long index = 0; index < count; ++index)
            {
                FT_Face face = nullptr;
                if (FT_New_Face(library, file.getFullPathName().toRawUTF8(), index, &face) != 0)
                    continue;
                if (index == 0)
                    count = face->num_faces;
                if ((face->face_flags & FT_FACE_FLAG_SCALABLE) != 0)
                    known->second.push_back(
                        {file, (int) index,
                         juce::String(face->family_name != nullptr ? face->family_name : ""),
                         juce::String(face->style_name != nullptr ? face->style_name : ""),
                         (face->face_flags & FT_FACE_FLAG_FIXED_WIDTH) != 0, info.st_dev, info.st_ino});
                FT_Done_Face(face);
            }
        }
        for (auto face : known->second)
        {
            face.file = file;
            faces.push_back(face);
        }
    }
    FT_Done_FreeType(library);
    return faces;
}

// The family the framework takes: the first preferred one that a face carries (the framework compares
// names ignoring case), or nothing.
std::optional<juce::String> pickedFamily(const std::vector<Face>& faces)
{
    for (const auto* preferred : preferredFamilies)
        for (const auto& face : faces)
            if (face.family.equalsIgnoreCase(preferred))
                return juce::String(preferred);
    return std::nullopt;
}
} // namespace

juce::Array<juce::File> frameworkFontFolders(const juce::XmlElement& fontsConf)
{
    juce::StringArray paths;
    for (auto* dir : fontsConf.getChildWithTagNameIterator("dir"))
    {
        auto path = dir->getAllSubText().trim();
        if (path.isEmpty())
            continue;
        if (dir->getStringAttribute("prefix") == "xdg")
        {
            auto dataHome = juce::SystemStats::getEnvironmentVariable("XDG_DATA_HOME", {});
            if (dataHome.trimStart().isEmpty())
                dataHome = "~/.local/share";
            path = juce::File(dataHome).getChildFile(path).getFullPathName();
        }
        paths.add(path);
    }
    paths.removeDuplicates(false);

    juce::Array<juce::File> folders;
    for (const auto& path : paths)
        folders.add(juce::File::getCurrentWorkingDirectory().getChildFile(path));
    return folders;
}

namespace
{
// narrowedFontPath() with fontsConf already parsed (as xml).
std::optional<juce::String> narrowedFontPathOf(const juce::XmlElement& xml, const juce::File& fontsConf)
{
    const auto folders = frameworkFontFolders(xml);
    const auto config = loadFontconfig(fontsConf);
    if (folders.isEmpty() || config == nullptr || !coversFolders(config.get(), folders))
        return std::nullopt;

    const auto faces = readFaces(candidateFiles(config.get(), folders));
    const auto family = pickedFamily(faces);
    if (!family)
        return std::nullopt;

    // For each style name the family has, the face the framework takes: the first in its order. Folders
    // holding those faces hold every style and, for each, the same first face; what else they hold is read
    // by the full search too, and no face there is of a family the framework prefers to this one.
    std::map<juce::String, const Face*> firstOfStyle;
    for (const auto& face : faces)
    {
        if (face.family != *family)
            continue;
        auto& first = firstOfStyle[face.style];
        if (first == nullptr || orderKey(face) < orderKey(*first))
            first = &face;
    }
    // The name matched only ignoring case: the framework then finds no face by the name it asks for.
    if (firstOfStyle.empty())
        return std::nullopt;

    // The folder of a face's file itself rather than of a link to it (so copies of a font folder made of
    // links are not read), where that is in the framework's folders too and the first face of each style in
    // the folders chosen so is still the same face of the same file; else the folders of the first faces.
    const auto folderOf = [&folders](const Face& face)
    {
        if (char* real = ::realpath(face.file.getFullPathName().toRawUTF8(), nullptr))
        {
            const juce::File target(juce::String::fromUTF8(real));
            std::free(real);
            if (isInside(target, folders))
                return target.getParentDirectory();
        }
        return face.file.getParentDirectory();
    };
    juce::Array<juce::File> chosen;
    for (const auto& [style, face] : firstOfStyle)
        chosen.addIfNotAlreadyThere(folderOf(*face));
    for (const auto& [style, first] : firstOfStyle)
    {
        const Face* firstThere = nullptr;
        for (const auto& face : faces)
            if (face.family == *family && face.style == style && isInside(face.file, chosen) &&
                (firstThere == nullptr || orderKey(face) < orderKey(*firstThere)))
                firstThere = &face;
        if (firstThere == nullptr || !sameFace(*firstThere, *first))
        {
            chosen.clear();
            for (const auto& [anyStyle, face] : firstOfStyle)
                chosen.addIfNotAlreadyThere(face->file.getParentDirectory());
            break;
        }
    }

    juce::StringArray narrowed;
    for (const auto& folder : chosen)
    {
        if (folder.getFullPathName().containsAnyOf(";,"))
            return std::nullopt;
        narrowed.add(folder.getFullPathName());
    }
    return narrowed.joinIntoString(";");
}
} // namespace

std::optional<juce::String> narrowedFontPath(const char* currentValue, const juce::File& fontsConf)
{
    if (currentValue != nullptr)
        return std::nullopt;
    const auto xml = juce::parseXML(fontsConf);
    if (xml == nullptr)
        return std::nullopt;
    return narrowedFontPathOf(*xml, fontsConf);
}

void narrowFontFolders()
{
    if (std::getenv("JUCE_FONT_PATH") != nullptr)
        return;
    // The first fonts.conf that parses, parsed once.
    for (const auto* path : fontsConfPaths)
    {
        const juce::File fontsConf(path);
        const auto xml = juce::parseXML(fontsConf);
        if (xml == nullptr)
            continue;
        if (const auto narrowed = narrowedFontPathOf(*xml, fontsConf))
            ::setenv("JUCE_FONT_PATH", narrowed->toRawUTF8(), 0);
        return;
    }
}
} // namespace pelk::program
