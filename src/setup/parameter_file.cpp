#include "setup/parameters.hpp"
#include "textio/line_reader.hpp"

Physical_Parameters Read_Parameter_File(const char* path) {
    textio::Line_Source src = textio::Open_File_Source(path);
    Physical_Parameters p{};
    try {
        textio::Skip_Line(src, "the label line of Pr");
        p.Pr = textio::Read_Real(src, "Pr");
        textio::Skip_Line(src, "the label line of Ra");
        p.Ra = textio::Read_Real(src, "Ra");
        textio::Skip_Line(src, "the label line of T_Hot");
        p.T_Hot = textio::Read_Real(src, "T_Hot");
        textio::Skip_Line(src, "the label line of T_Cold");
        p.T_Cold = textio::Read_Real(src, "T_Cold");
        textio::Skip_Line(src, "the label line of T_Init");
        p.T_Init = textio::Read_Real(src, "T_Init");
        textio::Skip_Line(src, "the label line of Tau_T");
        p.Tau_T = textio::Read_Real(src, "Tau_T");
    } catch (...) {
        textio::Close_Source(src);
        throw;
    }
    textio::Close_Source(src);
    return p;
}
