// What the analysis run tells the view that shows its document. Calls come
// from the worker thread for long recordings; implementations must not block
// on the user-interface thread.
#pragma once

class IAnalysisView {
public:
    virtual ~IAnalysisView() = default;
    virtual void ShowProgress() = 0;
    virtual void SetProgress(short percent) = 0;
    virtual void OnDetectionFinished(bool completed) = 0;
    virtual void BeginStatisticsProgress() = 0;
    virtual void OnStatisticsFinished(bool produced) = 0;
};
