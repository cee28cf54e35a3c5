count^count.qvr^5
links^links.qvr^Data/catalog.html
events^events.qvr^
sender^sender.qvr^
