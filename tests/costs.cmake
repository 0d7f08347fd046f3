# Rough seconds of the longest tests, so that a parallel run starts them
# first (ctest learns real figures after a run; a fresh tree has none).
foreach(entry
    "AppCancel.AtAnyMomentLeavesWholeCommands;10"
    "app_web_settings;9"
    "AppStop.EndsInTimeAndRestartsWithItsJobs;12"
    "AppToPrinter.FaultsShowAndTheJobWaitsThenEveryLabelPrintsOnce;8"
    "app_ipp;7"
    "AppImages.EachImageJobSendsTheGoldenBytes;6"
    "AppToPrinter.IdentifyAndTheTestLabel;5"
    "Process.ResourceFailuresEndTheJobWithOneError;5"
    "AppLoad.ClientsAtOnceGetTheFilterBytes;4"
    "Process.StartUpFailures;3"
    "AppBadDocuments.EachEndsAloneWithAReason;3"
    "app_desktop_route;3")
  list(GET entry 0 name)
  list(GET entry 1 seconds)
  set_tests_properties(${name} PROPERTIES COST ${seconds})
endforeach()
