// corvane-win-resources: writes the Windows resources that are made from the
// project's own artwork and texts, for windres to compile into the updater:
//   corvane-win-resources OUTPUT_FOLDER
// restart.bmp (the restart picture, 24 bits), updater.ico (the application
// icon: 48, 32 and 16 pixels at 4, 8 and 24 bits), strings.rc (the string
// table) and dialog.rc (dialog template 103, from the table the Qt window is
// laid out by). Runs on the build machine.

#include <QGuiApplication>
#include <QIcon>
#include <QImage>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/dialog_template.h"
#include "app/qt/artwork.h"
#include "program/exit_codes.h"
#include "update/strings.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(Bytes& out, std::uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

struct Rgb {
    int r, g, b;
};

// The 16 colours of the standard 4-bit palette.
std::vector<Rgb> Palette16() {
    return {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
}

// A 6 x 6 x 6 colour cube and 40 greys.
std::vector<Rgb> Palette256() {
    std::vector<Rgb> palette;
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 6; ++g) {
            for (int b = 0; b < 6; ++b) {
                palette.push_back({r * 51, g * 51, b * 51});
            }
        }
    }
    for (int i = 0; i < 40; ++i) {
        const int grey = 3 + i * 252 / 39;
        palette.push_back({grey, grey, grey});
    }
    return palette;
}

std::uint8_t Nearest(const std::vector<Rgb>& palette, QRgb pixel) {
    std::size_t best = 0;
    long bestDistance = -1;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const long dr = qRed(pixel) - palette[i].r;
        const long dg = qGreen(pixel) - palette[i].g;
        const long db = qBlue(pixel) - palette[i].b;
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<std::uint8_t>(best);
}

std::size_t RowBytes(int width, int bits) {
    return static_cast<std::size_t>((width * bits + 31) / 32 * 4);
}

void PutInfoHeader(Bytes& out, int width, int height, int bits, std::uint32_t imageBytes,
                   std::uint32_t colours) {
    Put32(out, 40);
    Put32(out, static_cast<std::uint32_t>(width));
    Put32(out, static_cast<std::uint32_t>(height));
    Put16(out, 1);
    Put16(out, static_cast<std::uint32_t>(bits));
    Put32(out, 0);  // no compression
    Put32(out, imageBytes);
    Put32(out, 2835);  // 72 dpi
    Put32(out, 2835);
    Put32(out, colours);
    Put32(out, 0);
}

// Pixel rows bottom-up at `bits` per pixel, colour-mapped through `palette`
// below 24 bits; transparent pixels are black (the mask shows the background).
Bytes PixelRows(const QImage& image, int bits, const std::vector<Rgb>& palette) {
    const std::size_t rowBytes = RowBytes(image.width(), bits);
    Bytes rows;
    for (int y = image.height() - 1; y >= 0; --y) {
        Bytes row(rowBytes, 0);
        for (int x = 0; x < image.width(); ++x) {
            QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) < 128) {
                pixel = qRgb(0, 0, 0);
            }
            if (bits == 24) {
                row[static_cast<std::size_t>(x) * 3] = static_cast<std::uint8_t>(qBlue(pixel));
                row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<std::uint8_t>(qGreen(pixel));
                row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<std::uint8_t>(qRed(pixel));
            } else if (bits == 8) {
                row[static_cast<std::size_t>(x)] = Nearest(palette, pixel);
            } else {
                const std::uint8_t index = Nearest(palette, pixel);
                row[static_cast<std::size_t>(x) / 2] |=
                    static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
            }
        }
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return rows;
}

// The icon's transparency mask: 1 bit a pixel, set where the background shows.
Bytes MaskRows(const QImage& image) {
    const std::size_t rowBytes = RowBytes(image.width(), 1);
    Bytes rows;
    for (int y = image.height() - 1; y >= 0; --y) {
        Bytes row(rowBytes, 0);
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) < 128) {
                row[static_cast<std::size_t>(x) / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
        rows.insert(rows.end(), row.begin(), row.end());
    }
    return rows;
}

Bytes IconImage(const QImage& image, int bits) {
    const std::vector<Rgb> palette =
        bits == 4 ? Palette16() : (bits == 8 ? Palette256() : std::vector<Rgb>{});
    const Bytes pixels = PixelRows(image, bits, palette);
    const Bytes mask = MaskRows(image);
    Bytes out;
    PutInfoHeader(out, image.width(), image.height() * 2, bits,
                  static_cast<std::uint32_t>(pixels.size() + mask.size()),
                  static_cast<std::uint32_t>(palette.size()));
    for (const Rgb& c : palette) {
        out.push_back(static_cast<std::uint8_t>(c.b));
        out.push_back(static_cast<std::uint8_t>(c.g));
        out.push_back(static_cast<std::uint8_t>(c.r));
        out.push_back(0);
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    out.insert(out.end(), mask.begin(), mask.end());
    return out;
}

Bytes IconFile(const QIcon& icon) {
    std::vector<std::pair<int, Bytes>> images;  // (size, image) in directory order
    for (int size : {48, 32, 16}) {
        const QImage image =
            icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        for (int bits : {4, 8, 24}) {
            images.emplace_back(size, IconImage(image, bits));
        }
    }
    Bytes out;
    Put16(out, 0);
    Put16(out, 1);  // icon
    Put16(out, static_cast<std::uint32_t>(images.size()));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    const int bitsOf[] = {4, 8, 24};
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int size = images[i].first;
        const int bits = bitsOf[i % 3];
        out.push_back(static_cast<std::uint8_t>(size));
        out.push_back(static_cast<std::uint8_t>(size));
        out.push_back(static_cast<std::uint8_t>(bits == 4 ? 16 : 0));  // colour count
        out.push_back(0);
        Put16(out, 1);  // planes
        Put16(out, static_cast<std::uint32_t>(bits));
        Put32(out, static_cast<std::uint32_t>(images[i].second.size()));
        Put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].second.size());
    }
    for (const auto& [size, image] : images) {
        out.insert(out.end(), image.begin(), image.end());
    }
    return out;
}

Bytes BitmapFile(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    const Bytes pixels = PixelRows(image, 24, {});
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    Put32(out, static_cast<std::uint32_t>(14 + 40 + pixels.size()));
    Put32(out, 0);
    Put32(out, 14 + 40);
    PutInfoHeader(out, image.width(), image.height(), 24, static_cast<std::uint32_t>(pixels.size()),
                  0);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// The texts as a resource script's string table; a quote is doubled there.
std::string StringTable() {
    std::string out =
        "// Written by corvane-win-resources from the updater's texts.\n"
        "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\n"
        "STRINGTABLE\nBEGIN\n";
    for (int id = corvane::update::IDS_ABOUTBOX; id <= corvane::update::IDS_RESTART_DEVICE; ++id) {
        std::string text;
        for (const char* c =
                 corvane::update::LoadString(static_cast<corvane::update::StringId>(id));
             *c != '\0'; ++c) {
            text += *c == '"' ? std::string("\"\"") : std::string(1, *c);
        }
        out += "    " + std::to_string(id) + ", \"" + text + "\"\n";
    }
    return out + "END\n";
}

std::string Quoted(const char* text) {
    std::string out = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        out += *c == '"' ? std::string("\"\"") : std::string(1, *c);
    }
    return out + "\"";
}

// Dialog template 103 as a resource script's DIALOGEX, for a script that
// includes windows.h and names the restart picture IDB_RESTART.
std::string DialogTemplate() {
    using corvane::app::ControlKind;
    std::string out =
        "// Written by corvane-win-resources from the window's template.\n"
        "IDD_UPDATER_DIALOG DIALOGEX 0, 0, " +
        std::to_string(corvane::app::kDialogWidth) + ", " +
        std::to_string(corvane::app::kDialogHeight) +
        "\n"
        "STYLE DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU\n"
        "EXSTYLE WS_EX_APPWINDOW\n"
        "CAPTION \"\"\n"
        "FONT 9, \"MS UI Gothic\", 0, 0, 0x80\n"
        "BEGIN\n";
    for (const corvane::app::TemplateControl& c : corvane::app::kDialogTemplate) {
        const std::string id = std::to_string(c.id);
        const std::string rect = std::to_string(c.x) + ", " + std::to_string(c.y) + ", " +
                                 std::to_string(c.width) + ", " + std::to_string(c.height);
        switch (c.kind) {
            case ControlKind::kLabel:
                out += "    LTEXT " + Quoted(c.text) + ", " + id + ", " + rect + ", WS_GROUP\n";
                break;
            case ControlKind::kList:
                out += "    COMBOBOX " + id + ", " + rect +
                       ", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP\n";
                break;
            case ControlKind::kDefaultButton:
                out += "    DEFPUSHBUTTON " + Quoted(c.text) + ", " + id + ", " + rect +
                       ", WS_TABSTOP\n";
                break;
            case ControlKind::kButton:
                out +=
                    "    PUSHBUTTON " + Quoted(c.text) + ", " + id + ", " + rect + ", WS_TABSTOP\n";
                break;
            case ControlKind::kLine:
                out += "    EDITTEXT " + id + ", " + rect +
                       ", ES_AUTOHSCROLL | ES_READONLY | NOT WS_BORDER | WS_TABSTOP\n";
                break;
            case ControlKind::kProgress:
                out += "    CONTROL \"\", " + id + ", \"msctls_progress32\", WS_BORDER, " + rect +
                       "\n";
                break;
            case ControlKind::kPicture:
                out += "    CONTROL \"\", " + id + ", \"Static\", SS_BITMAP, " + rect + "\n";
                break;
            case ControlKind::kRestartPicture:
                out += "    CONTROL IDB_RESTART, " + id +
                       ", \"Static\", SS_BITMAP | SS_CENTERIMAGE | NOT WS_VISIBLE, " + rect + "\n";
                break;
        }
    }
    return out + "END\n";
}

bool Write(const std::string& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file) {
        std::fprintf(stderr, "corvane-win-resources: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: corvane-win-resources OUTPUT_FOLDER\n");
        return corvane::kExitUsage;
    }
    // Drawing needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);

    const std::string folder = argv[1];
    const Bytes bitmap = BitmapFile(corvane::app::qt::DrawRestartPicture());
    const Bytes icon = IconFile(corvane::app::qt::DrawApplicationIcon());
    const std::string strings = StringTable();
    const std::string dialog = DialogTemplate();
    const bool written = Write(folder + "/restart.bmp", bitmap.data(), bitmap.size()) &&
                         Write(folder + "/updater.ico", icon.data(), icon.size()) &&
                         Write(folder + "/strings.rc", strings.data(), strings.size()) &&
                         Write(folder + "/dialog.rc", dialog.data(), dialog.size());
    return written ? corvane::kExitSuccess : corvane::kExitFailure;
}
