#include "device/CMutilMassStorage.h"

#include <utility>

namespace brev {

CMutilMassStorage::CMutilMassStorage(std::shared_ptr<IPassThroughBackend> backend,
                                     PatternList productPatterns, PatternList vendorPatterns)
    : backend_(std::move(backend)),
      productPatterns_(std::move(productPatterns)),
      vendorPatterns_(std::move(vendorPatterns)) {}

int CMutilMassStorage::Scan() {
    // devices_ accumulates over scans on purpose (callers take the size after one scan);
    // permission problems describe the last scan only.
    permissionProblems_.clear();
    if (!backend_) return 0;
    for (const VolumeRef& volume : backend_->ListVolumes()) {
        MassDevice device(backend_, volume.path, volume.name, vendorPatterns_, productPatterns_);
        if (device.Open() == 1) {
            devices_.push_back(
                PresentDevice{volume.name, volume.path, device.GetProductId(), device.location()});
            device.Close();
        } else if (std::string problem = device.permissionProblem(); !problem.empty()) {
            permissionProblems_.push_back(std::move(problem));
        }
    }
    return 0;
}

void CMutilMassStorage::GetDevices(std::vector<PresentDevice>& out) {
    Scan();
    out.insert(out.end(), devices_.begin(), devices_.end());
}

}  // namespace brev
