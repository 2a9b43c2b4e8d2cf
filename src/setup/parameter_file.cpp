#include "setup/parameters.hpp"
#include "textio/line_reader.hpp"

namespace {

float Read_Value(textio::Line_Source& src, const char* what, Value_Line& where) {
    float v = textio::Read_Real(src, what, where.item, where.rest);
    where.line = src.line_number;
    return v;
}

} // namespace

Physical_Parameters Read_Parameter_File(const char* path, Parameter_Lines* lines) {
    textio::Line_Source src = textio::Open_File_Source(path);
    Physical_Parameters p{};
    Parameter_Lines own;
    Parameter_Lines& w = lines ? *lines : own;
    try {
        textio::Skip_Line(src, "the label line of Pr");
        p.Pr = Read_Value(src, "Pr", w.Pr);
        textio::Skip_Line(src, "the label line of Ra");
        p.Ra = Read_Value(src, "Ra", w.Ra);
        textio::Skip_Line(src, "the label line of T_Hot");
        p.T_Hot = Read_Value(src, "T_Hot", w.T_Hot);
        textio::Skip_Line(src, "the label line of T_Cold");
        p.T_Cold = Read_Value(src, "T_Cold", w.T_Cold);
        textio::Skip_Line(src, "the label line of T_Init");
        p.T_Init = Read_Value(src, "T_Init", w.T_Init);
        textio::Skip_Line(src, "the label line of Tau_T");
        p.Tau_T = Read_Value(src, "Tau_T", w.Tau_T);
    } catch (...) {
        textio::Close_Source(src);
        throw;
    }
    textio::Close_Source(src);
    return p;
}
