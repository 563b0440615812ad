#include "report/BatchReport.h"

bool WriteReportPdf(CEcgDocument&, const std::string&, const std::string&, std::string* pError)
{
    if (pError)
        *pError = "report rendering is not available";
    return false;
}
