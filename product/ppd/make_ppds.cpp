// Writes the sample product's PPD files from the model table: one PPD per
// table row, the current generation gzip-compressed as the product ships it
// and the previous generation uncompressed, as queues still use it.
//
//   make_ppds <current-dir> <previous-dir>
#include <zlib.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

enum Pdl { PS, PCL, PXL };

struct Model {
  const char* name;
  int id;
  Pdl pdl;
};

#define VELA_MODEL(name, id, pdl) Model{name, id, pdl},
constexpr Model kModels[] = {
#include "printers/model_table.def"
};
#undef VELA_MODEL

// What tells the two generations apart.
struct Generation {
  bool current;
  const char* fileVersion;
  const char* driver;
  const char* pageSize;
  const char* inputSlot;
  const char* duplex;
  const char* resolution;
  const char* economode;
};

constexpr Generation kCurrent{true, "\"4.0.5\"", "Vela 4.0", "A4", "Auto", "None", "600dpi", "Off"};
constexpr Generation kPrevious{false, "\"2.1.0\"", "Vela 2.0", "Letter", "Tray1", "DuplexNoTumble", "300dpi", "On"};

const char* pdlName(Pdl pdl) { return pdl == PS ? "PS" : pdl == PCL ? "PCL" : "PXL"; }

std::string fileNameOf(const Model& model) {
  std::string name = "Marlo_";
  for (const char* c = model.name; *c; ++c) {
    if (*c == '+') {
      name += "plus";
    } else {
      name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    }
  }
  return name + "-" + pdlName(model.pdl) + ".ppd";
}

struct PaperSize {
  const char* name;
  int width;
  int length;
};

constexpr PaperSize kSizes[] = {
    {"A4", 595, 842}, {"Letter", 612, 792}, {"Legal", 612, 1008}, {"A5", 420, 595}, {"Executive", 522, 756},
};

__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  out += line;
}

void writeHeader(std::string& out, const Model& model, int row, const Generation& gen) {
  const std::string modelName = std::string("Marlo ") + model.name + " " + pdlName(model.pdl);
  const bool color = model.pdl == PS;
  out += "*PPD-Adobe: \"4.3\"\n";
  out += "*% Marlo printer description for the Vela printer driver\n";
  out += "*% Vela version: 1\n";
  out += "*FormatVersion: \"4.3\"\n";
  appendf(out, "*FileVersion: %s\n", gen.fileVersion);
  out += "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n";
  appendf(out, "*PCFileName: \"MRL%05d.PPD\"\n", row);
  out += "*Manufacturer: \"Marlo\"\n";
  appendf(out, "*Product: \"(Marlo %s)\"\n", model.name);
  appendf(out, "*ModelName: \"%s\"\n", modelName.c_str());
  appendf(out, "*ShortNickName: \"%.31s\"\n", modelName.c_str());
  appendf(out, "*NickName: \"%s, %s\"\n", modelName.c_str(), gen.driver);
  out += "*PSVersion: \"(3010.000) 0\"\n*LanguageLevel: \"3\"\n";
  appendf(out, "*ColorDevice: %s\n*DefaultColorSpace: %s\n", color ? "True" : "False", color ? "CMYK" : "Gray");
  out += "*FileSystem: False\n*Throughput: \"30\"\n*LandscapeOrientation: Plus90\n*TTRasterizer: Type42\n";
  if (model.pdl == PS) {
    out += "*cupsFilter: \"application/vnd.cups-postscript 0 -\"\n";
  } else {
    out += "*cupsFilter: \"application/vnd.cups-postscript 100 foomatic-rip\"\n";
    appendf(out, "*FoomaticRIPCommandLine: \"korgsfilter -q -dSAFER -sDEVICE=%s -sOutputFile=- -\"\n",
            model.pdl == PCL ? "ljet4" : "pxlmono");
  }
  out += "*JCLBegin: \"<1B>%-12345X@PJL JOB<0A>\"\n";
  out += "*JCLToPSInterpreter: \"@PJL ENTER LANGUAGE = POSTSCRIPT<0A>\"\n";
  out += "*JCLEnd: \"<1B>%-12345X@PJL EOJ<0A><1B>%-12345X\"\n";
}

void writePaperSizes(std::string& out, const Generation& gen) {
  for (const char* keyword : {"PageSize", "PageRegion"}) {
    const char* label = keyword == std::string_view("PageSize") ? "/Page Size" : "";
    appendf(out, "*OpenUI *%s%s: PickOne\n*OrderDependency: 10 AnySetup *%s\n", keyword, label, keyword);
    appendf(out, "*Default%s: %s\n", keyword, gen.pageSize);
    for (const PaperSize& size : kSizes) {
      appendf(out, "*%s %s/%s: \"<</PageSize[%d %d]/ImagingBBox null>>setpagedevice\"\n", keyword, size.name,
              size.name, size.width, size.length);
    }
    appendf(out, "*CloseUI: *%s\n", keyword);
  }
  appendf(out, "*DefaultImageableArea: %s\n", gen.pageSize);
  for (const PaperSize& size : kSizes) {
    appendf(out, "*ImageableArea %s/%s: \"12 12 %d %d\"\n", size.name, size.name, size.width - 12, size.length - 12);
  }
  appendf(out, "*DefaultPaperDimension: %s\n", gen.pageSize);
  for (const PaperSize& size : kSizes) {
    appendf(out, "*PaperDimension %s/%s: \"%d %d\"\n", size.name, size.name, size.width, size.length);
  }
}

void writeOptions(std::string& out, const Generation& gen) {
  out += "*OpenGroup: General/General\n";
  writePaperSizes(out, gen);
  out += "*OpenUI *InputSlot/Paper Source: PickOne\n*OrderDependency: 20 AnySetup *InputSlot\n";
  appendf(out, "*DefaultInputSlot: %s\n", gen.inputSlot);
  out += "*InputSlot Auto/Automatic: \"<</ManualFeed false/MediaPosition 7>>setpagedevice\"\n";
  out += "*InputSlot Tray1/Tray 1: \"<</ManualFeed false/MediaPosition 1>>setpagedevice\"\n";
  out += "*InputSlot Tray2/Tray 2: \"<</ManualFeed false/MediaPosition 2>>setpagedevice\"\n";
  out += "*InputSlot Manual/Manual Feed: \"<</ManualFeed true>>setpagedevice\"\n";
  out += "*CloseUI: *InputSlot\n";
  out += "*OpenUI *Duplex/Two-Sided Printing: PickOne\n*OrderDependency: 30 AnySetup *Duplex\n";
  appendf(out, "*DefaultDuplex: %s\n", gen.duplex);
  out += "*Duplex None/Off: \"<</Duplex false>>setpagedevice\"\n";
  out += "*Duplex DuplexNoTumble/Long Edge: \"<</Duplex true/Tumble false>>setpagedevice\"\n";
  out += "*Duplex DuplexTumble/Short Edge: \"<</Duplex true/Tumble true>>setpagedevice\"\n";
  out += "*CloseUI: *Duplex\n";
  out += "*OpenUI *Resolution/Resolution: PickOne\n*OrderDependency: 40 AnySetup *Resolution\n";
  appendf(out, "*DefaultResolution: %s\n", gen.resolution);
  for (int dpi : {300, 600, 1200}) {
    appendf(out, "*Resolution %ddpi/%d dpi: \"<</HWResolution[%d %d]>>setpagedevice\"\n", dpi, dpi, dpi, dpi);
  }
  out += "*CloseUI: *Resolution\n";
  if (gen.current) {
    out += "*OpenUI *OutputBin/Output Tray: PickOne\n*OrderDependency: 50 AnySetup *OutputBin\n";
    out += "*DefaultOutputBin: FaceDown\n";
    out += "*OutputBin FaceDown/Top Tray: \"<</OutputFaceUp false>>setpagedevice\"\n";
    out += "*OutputBin FaceUp/Rear Tray: \"<</OutputFaceUp true>>setpagedevice\"\n";
    out += "*CloseUI: *OutputBin\n";
  }
  out += "*CloseGroup: General\n";
}

void writeTail(std::string& out, const Generation& gen) {
  out += "*JCLOpenUI *JCLEconomode/Toner Saver: PickOne\n*OrderDependency: 10 JCLSetup *JCLEconomode\n";
  appendf(out, "*DefaultJCLEconomode: %s\n", gen.economode);
  out += "*JCLEconomode Off/Off: \"@PJL SET ECONOMODE = OFF<0A>\"\n";
  out += "*JCLEconomode On/On: \"@PJL SET ECONOMODE = ON<0A>\"\n";
  out += "*JCLCloseUI: *JCLEconomode\n";
  out += "*DefaultColorSep: ProcessBlack.60lpi.600dpi/60 lpi / 600 dpi\n";
  out += "*ColorSepScreenAngle ProcessBlack.60lpi.600dpi/60 lpi / 600 dpi: \"45\"\n";
  out += "*ColorSepScreenFreq ProcessBlack.60lpi.600dpi/60 lpi / 600 dpi: \"60\"\n";
  out += "*DefaultFont: Courier\n";
  for (const char* font : {"Courier", "Courier-Bold", "Helvetica", "Helvetica-Bold", "Times-Roman", "Times-Bold"}) {
    appendf(out, "*Font %s: Standard \"(002.004S)\" Standard ROM\n", font);
  }
  out += "*% End of the Marlo printer description\n";
}

std::string ppdText(const Model& model, int row, const Generation& gen) {
  std::string out;
  writeHeader(out, model, row, gen);
  writeOptions(out, gen);
  writeTail(out, gen);
  return out;
}

bool writePlain(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "make_ppds: open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "make_ppds: write %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

// gzopen writes no file name and no time stamp, so the output is reproducible.
bool writeCompressed(const std::string& path, const std::string& text) {
  gzFile file = gzopen(path.c_str(), "wb9");
  if (file == nullptr) {
    std::fprintf(stderr, "make_ppds: gzopen %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  const bool written = gzwrite(file, text.data(), static_cast<unsigned>(text.size())) == static_cast<int>(text.size());
  if (gzclose(file) != Z_OK || !written) {
    std::fprintf(stderr, "make_ppds: write %s failed\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_ppds <current-dir> <previous-dir>\n");
    return 2;
  }
  int row = 0;
  for (const Model& model : kModels) {
    ++row;
    const std::string name = fileNameOf(model);
    if (!writeCompressed(std::string(argv[1]) + "/" + name + ".gz", ppdText(model, row, kCurrent))) return 1;
    if (!writePlain(std::string(argv[2]) + "/" + name, ppdText(model, row, kPrevious))) return 1;
  }
  return 0;
}
