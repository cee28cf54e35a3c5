results^results.qvr^
