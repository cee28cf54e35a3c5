ask^ask.qvr^
