#include "common/exports.h"

namespace kvx::ui {

std::optional<int> Exports::CheckCD(QdaRequest& request) {
    return Call<QdaRequestFn>("QDACheckCD", &request);
}
std::optional<int> Exports::CheckSEC(QdaRequest& request) {
    return Call<QdaRequestFn>("QDACheckSEC", &request);
}
std::optional<int> Exports::GetChipNum(QdaRequest& request, std::uint16_t* chipText) {
    return Call<QdaChipNumFn>("QDAGetChipNum", &request, chipText);
}
std::optional<int> Exports::EjectSec(QdaRequest& request) {
    return Call<QdaRequestFn>("QDAEjectSec", &request);
}
std::optional<int> Exports::GetPasswordStatus(QdaRequest& request) {
    return Call<QdaRequestFn>("QDAGetPasswordStatus", &request);
}
std::optional<int> Exports::GetDeviceCapacity(QdaRequest& request) {
    return Call<QdaRequestFn>("QDAGetDeviceCapacity", &request);
}
std::optional<int> Exports::SHA2Auth(QdaRequest& request) {
    return Call<QdaRequestFn>("QDASHA2Auth", &request);
}
std::optional<int> Exports::LaunchSec(QdaRequest& request) {
    return Call<QdaRequestFn>("QDALaunchSec", &request);
}
std::optional<int> Exports::HiddenPartRdWr(QdaRequest& request, std::uint8_t* data) {
    return Call<QdaDataFn>("QDAHiddenPartRdWr", &request, data);
}
std::optional<int> Exports::RdWrDirect(QdaRequest& request, std::uint8_t* data) {
    return Call<QdaDataFn>("QDARdWrDirect", &request, data);
}
std::optional<int> Exports::ChangePassWord(QdaRequest& request) {
    return Call<QdaRequestFn>("QDAChangePassWord", &request);
}
std::optional<int> Exports::FormatHDD(QdaRequest& request) {
    return Call<QdaRequestFn>("QDAFormatHDD", &request);
}
std::optional<int> Exports::UpdateCDPart(QdaRequest& request, QdaImageRequest* images) {
    return Call<QdaUpdateCdFn>("QDAUpdateCDPart", &request, images);
}
std::optional<int> Exports::WriteCDFormatFlag(QdaRequest& request) {
    return Call<QdaRequestFn>("QDAWriteCDFormatFlag", &request);
}

}  // namespace kvx::ui
